#include "platform/linux/speech/PocketSphinxModelFolder.h"

#include "runtime/Log.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace zq::platform {

namespace {

// "en-us" -> "en-US", "de" -> "de"; none for a name that is no locale ("test", "en-us-phone").
std::optional<QString> localeOfFolderName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^([a-z]{2,3})(?:[-_]([a-zA-Z]{2}))?$"));
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch())
        return std::nullopt;
    const QString region = match.captured(2);
    return region.isEmpty() ? match.captured(1) : match.captured(1) + QLatin1Char('-') + region.toUpper();
}

// The preferred file of `dir` among `patterns`, trying the one named after the folder first.
QString pick(const QDir &dir, const QStringList &preferred, const QStringList &patterns, auto accept)
{
    for (const QString &name : preferred) {
        const QFileInfo info(dir.filePath(name));
        if (accept(info))
            return info.filePath();
    }
    const QFileInfoList entries =
        dir.entryInfoList(patterns, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &info : entries) {
        if (accept(info))
            return info.filePath();
    }
    return {};
}

} // namespace

QString InstalledSpeechModel::language() const
{
    return locale.section(QLatin1Char('-'), 0, 0);
}

QString PocketSphinxModelFolder::systemFolder()
{
    return QStringLiteral("/usr/share/pocketsphinx/model");
}

std::optional<InstalledSpeechModel> PocketSphinxModelFolder::inspect(const QString &modelFolder)
{
    const QDir dir(modelFolder);
    const QString name = dir.dirName();
    const std::optional<QString> locale = localeOfFolderName(name);
    if (!locale)
        return std::nullopt;
    // The acoustic model is a folder with a model definition; the language model is a word model,
    // not the phone model that sits beside it.
    const QString acoustic = pick(dir, {name}, {QStringLiteral("*")}, [](const QFileInfo &info) {
        return info.isDir() && QFileInfo::exists(info.filePath() + QStringLiteral("/mdef"));
    });
    const QString languageModel =
        pick(dir, {name + QStringLiteral(".lm.bin")},
             {QStringLiteral("*.lm.bin"), QStringLiteral("*.lm"), QStringLiteral("*.lm.DMP")},
             [](const QFileInfo &info) { return info.isFile() && !info.fileName().contains(QStringLiteral("phone")); });
    const QString dictionary = pick(dir, {}, {QStringLiteral("*.dict"), QStringLiteral("*.dic")},
                                    [](const QFileInfo &info) { return info.isFile(); });
    if (acoustic.isEmpty() || languageModel.isEmpty() || dictionary.isEmpty()) {
        qCInfo(lcLocalBackend).noquote() << "speech model folder incomplete — skipped:" << modelFolder;
        return std::nullopt;
    }
    return InstalledSpeechModel{*locale, PocketSphinxModel{acoustic, languageModel, dictionary}};
}

std::vector<InstalledSpeechModel> PocketSphinxModelFolder::scan(const QString &folder)
{
    std::vector<InstalledSpeechModel> models;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries) {
        std::optional<InstalledSpeechModel> model = inspect(entry.filePath());
        if (!model)
            continue;
        const bool sameLanguage = std::any_of(models.begin(), models.end(), [&](const InstalledSpeechModel &found) {
            return found.language() == model->language();
        });
        if (sameLanguage) {
            qCInfo(lcLocalBackend).noquote()
                << "second speech model for" << model->language() << "— using the first:" << entry.filePath();
            continue;
        }
        models.push_back(std::move(*model));
    }
    return models;
}

} // namespace zq::platform

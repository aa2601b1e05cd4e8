#include "records/DictationIncident.h"

#include "records/StoreFile.h"
#include "runtime/BackendKind.h"

#include <QJsonValue>
#include <QStringList>

namespace zq {

QString DictationIncident::reference() const
{
    return StoreFile::uuidString(id).remove(QLatin1Char('-')).left(8).toUpper();
}

QString DictationIncident::reportText() const
{
    const QStringList lines = {
        QStringLiteral("ZEPA QUARN issue report"),
        QStringLiteral("Error code: ") + code,
        QStringLiteral("Reference: ") + reference(),
        QStringLiteral("Time: ") + date.toUTC().toString(Qt::ISODate),
        QStringLiteral("App: %1 (%2)").arg(appVersion, build),
        QStringLiteral("Engine: ") +
            (backendKindOf(backend) == BackendKind::openai ? QStringLiteral("OpenAI") : QStringLiteral("On-device")),
        QStringLiteral("Recording preserved: ") + (recordingFilename ? QStringLiteral("Yes") : QStringLiteral("No")),
        QString(),
        QStringLiteral("What happened: ") + message,
        QStringLiteral("Suggested action: ") + nextStep,
        QString(),
        QStringLiteral("This report contains no transcript, audio, API key, or server response."),
    };
    return lines.join(QLatin1Char('\n'));
}

QJsonObject DictationIncident::toJson() const
{
    QJsonObject object{{QStringLiteral("id"), StoreFile::uuidString(id)},
                       {QStringLiteral("date"), StoreFile::referenceSeconds(date)},
                       {QStringLiteral("code"), code},
                       {QStringLiteral("title"), title},
                       {QStringLiteral("message"), message},
                       {QStringLiteral("nextStep"), nextStep},
                       {QStringLiteral("backend"), backend},
                       {QStringLiteral("appVersion"), appVersion},
                       {QStringLiteral("build"), build},
                       {QStringLiteral("isRead"), isRead}};
    if (language)
        object.insert(QStringLiteral("language"), *language);
    if (recordingFilename)
        object.insert(QStringLiteral("recordingFilename"), *recordingFilename);
    return object;
}

std::optional<DictationIncident> DictationIncident::fromJson(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    DictationIncident incident;

    const auto readString = [&](const char *key, QString &out) {
        const QJsonValue v = object.value(QLatin1String(key));
        if (!v.isString())
            return false;
        out = v.toString();
        return true;
    };
    // Absent and null both mean "none"; any other type fails the whole file.
    const auto readOptional = [&](const char *key, std::optional<QString> &out) {
        const QJsonValue v = object.value(QLatin1String(key));
        if (v.isUndefined() || v.isNull())
            return true;
        if (!v.isString())
            return false;
        out = v.toString();
        return true;
    };

    QString id;
    if (!readString("id", id) || !readString("code", incident.code) || !readString("title", incident.title) ||
        !readString("message", incident.message) || !readString("nextStep", incident.nextStep) ||
        !readString("backend", incident.backend) || !readString("appVersion", incident.appVersion) ||
        !readString("build", incident.build) || !readOptional("language", incident.language) ||
        !readOptional("recordingFilename", incident.recordingFilename))
        return std::nullopt;

    const auto uuid = StoreFile::uuidFromString(id);
    const QJsonValue date = object.value(QLatin1String("date"));
    const QJsonValue isRead = object.value(QLatin1String("isRead"));
    if (!uuid || !date.isDouble() || !isRead.isBool())
        return std::nullopt;
    const auto when = StoreFile::dateFromReferenceSeconds(date.toDouble());
    if (!when)
        return std::nullopt;
    incident.id = *uuid;
    incident.date = *when;
    incident.isRead = isRead.toBool();
    return incident;
}

} // namespace zq

// The speech models found on disk decide the on-device languages that every picker offers.
#include "platform/linux/speech/PocketSphinxModelFolder.h"

#include "pipeline/LanguageCatalogue.h"
#include "window/settings/SettingsPageText.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zq;
using platform::InstalledSpeechModel;
using platform::PocketSphinxModelFolder;

namespace {

void touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

// A model folder as the distribution's packages lay it out, with a phone model beside the word model.
void makeModel(const QString &root, const QString &name)
{
    touch(root + '/' + name + '/' + name + "/mdef");
    touch(root + '/' + name + '/' + name + "/means");
    touch(root + '/' + name + '/' + name + "-phone.lm.bin");
    touch(root + '/' + name + '/' + name + ".lm.bin");
    touch(root + '/' + name + "/cmudict-" + name + ".dict");
}

QStringList localesOf(const std::vector<InstalledSpeechModel> &models)
{
    QStringList locales;
    for (const auto &model : models)
        locales.append(model.locale);
    return locales;
}

QStringList pickerLabels(const std::vector<InstalledSpeechModel> &models)
{
    QStringList codes;
    for (const auto &model : models)
        codes.append(model.language());
    QStringList labels;
    for (const PickerChoice &choice : languageChoices(LanguageCatalogue(codes), QStringLiteral("local")))
        labels.append(choice.label);
    return labels;
}

} // namespace

TEST(PocketSphinxModelFolderTest, TheOnDeviceLanguagesAreTheModelsFound)
{
    struct Case {
        const char *name;
        std::function<void(const QString &root)> lay;
        QStringList locales;
        QStringList labels;
    };
    const std::vector<Case> cases{
        {"English only",
         [](const QString &root) { makeModel(root, "en-us"); },
         {"en-US"},
         {"System language", "English"}},
        {"two models",
         [](const QString &root) {
             makeModel(root, "fr-fr");
             makeModel(root, "en-us");
         },
         {"en-US", "fr-FR"},
         {"System language", "English", "French"}},
        {"none", [](const QString &) {}, {}, {"System language"}},
        {"incomplete and foreign folders",
         [](const QString &root) {
             makeModel(root, "en-us");
             touch(root + "/de-de/de-de.lm.bin"); // no acoustic model, no dictionary
             makeModel(root, "en-in");            // a second English: the first one found serves
             makeModel(root, "test");             // no locale
             makeModel(root, "xx");               // a locale of no known language
             touch(root + "/README");
         },
         {"en-IN", "xx"},
         {"System language", "English"}},
    };
    for (const Case &c : cases) {
        QTemporaryDir root;
        c.lay(root.path());
        const std::vector<InstalledSpeechModel> models = PocketSphinxModelFolder::scan(root.path());
        EXPECT_EQ(localesOf(models), c.locales) << c.name;
        EXPECT_EQ(pickerLabels(models), c.labels) << c.name;
    }
    EXPECT_TRUE(PocketSphinxModelFolder::scan(QStringLiteral("/nonexistent/models")).empty());
}

TEST(PocketSphinxModelFolderTest, TheWordModelIsChosenNotThePhoneModel)
{
    QTemporaryDir root;
    makeModel(root.path(), "en-us");
    const auto model = PocketSphinxModelFolder::inspect(root.filePath("en-us"));
    ASSERT_TRUE(model);
    EXPECT_EQ(model->files.acousticModel, root.filePath("en-us/en-us"));
    EXPECT_EQ(model->files.languageModel, root.filePath("en-us/en-us.lm.bin"));
    EXPECT_EQ(model->files.dictionary, root.filePath("en-us/cmudict-en-us.dict"));
    EXPECT_TRUE(model->files.isInstalled());

    // Only a phone model: no word model, no usable folder.
    QFile::remove(root.filePath("en-us/en-us.lm.bin"));
    EXPECT_FALSE(PocketSphinxModelFolder::inspect(root.filePath("en-us")));
}

#include "window/settings/SettingsPageText.h"

#include "pipeline/Paster.h"

#include <gtest/gtest.h>

using namespace zq;

namespace {

AudioInputDevice device(const char *uid, const char *name, InputTransport transport)
{
    return {0, QString::fromUtf8(uid), QString::fromUtf8(name), transport};
}

const std::vector<AudioInputDevice> devices{
    device("builtin", "Built-in Microphone", InputTransport::builtIn),
    device("bt", "Headset", InputTransport::bluetooth),
    device("usb", "USB Mic", InputTransport::usb),
    device("usb", "Second entry with the same uid", InputTransport::bluetooth),
};

TEST(SettingsPageTextTest, SubtitlesOfEveryPage)
{
    EXPECT_EQ(pageSubtitle(AppWindowSection::stats), QString());
    EXPECT_EQ(pageSubtitle(AppWindowSection::history), QString());
    EXPECT_EQ(pageSubtitle(AppWindowSection::general), "Appearance, shortcuts, and startup behavior.");
    EXPECT_EQ(pageSubtitle(AppWindowSection::audio), "Choose and verify the microphone ZEPA QUARN listens to.");
    EXPECT_EQ(pageSubtitle(AppWindowSection::transcription), "Control the engine, language, and transcript cleanup.");
    EXPECT_EQ(pageSubtitle(AppWindowSection::dictionary), "Teach ZEPA QUARN the names and terminology you use.");
    EXPECT_EQ(pageSubtitle(AppWindowSection::faq), "The questions everyone asks, answered honestly.");
    EXPECT_EQ(pageSubtitle(AppWindowSection::support), "Updates and privacy-safe local diagnostics.");
}

TEST(SettingsPageTextTest, InputHintsByChoiceAndTransport)
{
    EXPECT_TRUE(inputHint("system-default", devices).startsWith("Automatic may choose a Bluetooth microphone."))
        << "whatever devices exist";
    EXPECT_TRUE(inputHint("system-default", {}).startsWith("Automatic may choose"));
    EXPECT_EQ(inputHint("gone", devices),
              "The selected microphone is unavailable; ZEPA QUARN temporarily follows the desktop's input.");
    EXPECT_TRUE(inputHint("builtin", devices).startsWith("Recommended with headphones"));
    EXPECT_TRUE(inputHint("bt", devices).startsWith("Bluetooth input is slower"));
    EXPECT_EQ(inputHint("usb", devices),
              "ZEPA QUARN captures from this microphone independently of your headphone output.")
        << "the first device with the uid counts";
    for (auto transport : {InputTransport::continuity, InputTransport::virtual_, InputTransport::other})
        EXPECT_EQ(inputHint("x", {device("x", "X", transport)}),
                  "ZEPA QUARN captures from this microphone independently of your headphone output.");
}

TEST(SettingsPageTextTest, InputChoicesLabelTheTransport)
{
    const auto choices = inputPickerChoices(devices);
    ASSERT_EQ(choices.size(), 5u);
    EXPECT_EQ(choices[0], (PickerChoice{"system-default", "Automatic", "arrow.triangle.2.circlepath"}));
    EXPECT_EQ(choices[1].label, QString::fromUtf8("Built-in Microphone — recommended"));
    EXPECT_EQ(choices[2].label, QString::fromUtf8("Headset — slower"));
    EXPECT_EQ(choices[3], (PickerChoice{"usb", "USB Mic", "mic"}));
    EXPECT_EQ(inputPickerChoices({}).size(), 1u) << "no devices leaves Automatic alone";
}

TEST(SettingsPageTextTest, BackgroundAudioDetailAndSymbol)
{
    EXPECT_EQ(backgroundAudioDetail("pause-playback"),
              "Pauses active media while the microphone is open, then resumes it.");
    EXPECT_EQ(backgroundAudioSymbol("pause-playback"), "pause.fill");
    EXPECT_EQ(backgroundAudioDetail("lower-volume"),
              "Lowers system output while the microphone is open, then restores it.");
    EXPECT_EQ(backgroundAudioSymbol("lower-volume"), "speaker.wave.1.fill");
    for (const char *other : {"unchanged", "", "Pause-Playback"}) {
        EXPECT_EQ(backgroundAudioDetail(other), "Leaves music and other audio untouched.");
        EXPECT_EQ(backgroundAudioSymbol(other), "play.fill");
    }
}

TEST(SettingsPageTextTest, LanguageChoicesFollowTheEngine)
{
    const LanguageCatalogue installed(QStringList{"en", "ru"});
    EXPECT_EQ(languageChoices(installed, "local"),
              (std::vector<PickerChoice>{
                  {"auto", "System language", "globe"}, {"en", "English", ""}, {"ru", "Russian", ""}}));
    EXPECT_EQ(languageChoices(installed, "openai").size(), 58u);
    EXPECT_EQ(languageChoices(installed, "something else").size(), 3u) << "any other engine uses the on-device list";
    EXPECT_EQ(languageChoices(LanguageCatalogue(), "local").size(), 1u) << "no model: only the system language";
    EXPECT_EQ(engineSymbol(BackendKind::local), "desktopcomputer");
    EXPECT_EQ(engineSymbol(BackendKind::openai), "cloud");
}

TEST(SettingsPageTextTest, FaqHasTenQuestionsInThreeGroupsAndNamesTheTriggerInForce)
{
    const auto groups = faqGroups(QStringLiteral("Right Control or F8"));
    EXPECT_TRUE(groups[0].questions[0].answer.startsWith(
        QStringLiteral("Hold your trigger key (Right Control or F8), speak, release")));
    const QString none = faqGroups(QString())[0].questions[0].answer;
    EXPECT_TRUE(none.contains(QStringLiteral("choose one under General → Trigger"))) << none.toStdString();
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0].questions.size(), 5u);
    EXPECT_EQ(groups[1].questions.size(), 2u);
    EXPECT_EQ(groups[2].questions.size(), 3u);
    for (const auto &group : groups)
        for (const auto &question : group.questions)
            EXPECT_FALSE(question.answer.contains("Mac") || question.answer.contains("macOS") ||
                         question.answer.contains("Cmd") || question.answer.contains("secure input"))
                << "platform words stay out of: " << question.question.toStdString();
    // Pasting by hand takes the keys the application's own paste uses in that window.
    const QString whereTextGoes = groups[0].questions[3].answer;
    for (const char *windowClass : {"gedit", "gnome-terminal-server", "xterm"}) {
        const QString keys = Paster::chordText(Paster::routeFor({windowClass, windowClass}).chord);
        EXPECT_TRUE(whereTextGoes.contains(keys)) << windowClass << ": " << whereTextGoes.toStdString();
    }
    // xterm pastes the cut buffer only as Latin-1: œ, € and long dashes, Western European as they are, are lost.
    EXPECT_TRUE(groups[0].questions[4].answer.contains(QStringLiteral("Latin-1")));
}

} // namespace

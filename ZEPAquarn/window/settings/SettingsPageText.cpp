#include "window/settings/SettingsPageText.h"

#include "pipeline/LanguageCatalogue.h"

#include <algorithm>

namespace zq {

namespace {

// The product's own web host (invites and updates) and the OpenAI account site.
const QString kProductHost = QStringLiteral("zepaquarn.quorvane.io");
const QString kOpenAIAccountHost = QStringLiteral("platform.openai.com");

QString fromUtf8(const char *text)
{
    return QString::fromUtf8(text);
}

} // namespace

RowStatus RowStatus::passed(const QString &what)
{
    return {DetailTone::success, QString::fromUtf8("✓ ") + what};
}

RowStatus RowStatus::failed(const QString &why)
{
    return {DetailTone::danger, QString::fromUtf8("✗ ") + why};
}

std::vector<PickerChoice> inputPickerChoices(const std::vector<AudioInputDevice> &devices)
{
    std::vector<PickerChoice> choices{
        {kSystemDefaultInputPreference, QStringLiteral("Automatic"), QStringLiteral("arrow.triangle.2.circlepath")}};
    for (const auto &device : devices) {
        QString label = device.name;
        if (device.transport == InputTransport::builtIn)
            label += fromUtf8(" — recommended");
        else if (device.transport == InputTransport::bluetooth)
            label += fromUtf8(" — slower");
        choices.push_back({device.uid, label, QStringLiteral("mic")});
    }
    return choices;
}

QString inputHint(const QString &inputDevice, const std::vector<AudioInputDevice> &devices)
{
    if (inputDevice == kSystemDefaultInputPreference)
        return QStringLiteral("Automatic may choose a Bluetooth microphone. For fast starts with headphones, select "
                              "the built-in microphone.");
    const auto found = std::find_if(devices.begin(), devices.end(),
                                    [&](const AudioInputDevice &device) { return device.uid == inputDevice; });
    if (found == devices.end())
        return QStringLiteral(
            "The selected microphone is unavailable; ZEPA QUARN temporarily follows the desktop's input.");
    switch (found->transport) {
    case InputTransport::builtIn:
        return QStringLiteral("Recommended with headphones: the built-in microphone captures your voice while "
                              "earbuds remain output-only.");
    case InputTransport::bluetooth:
        return QStringLiteral("Bluetooth input is slower because the headset must switch to its headset mode. Select "
                              "the built-in microphone for fast capture while listening through headphones.");
    default:
        return QStringLiteral("ZEPA QUARN captures from this microphone independently of your headphone output.");
    }
}

std::vector<PickerChoice> backgroundAudioChoices()
{
    return {{QStringLiteral("unchanged"), QStringLiteral("Keep playing"), QStringLiteral("play.fill")},
            {QStringLiteral("lower-volume"), QStringLiteral("Lower volume"), QStringLiteral("speaker.wave.1.fill")},
            {QStringLiteral("pause-playback"), QStringLiteral("Pause"), QStringLiteral("pause.fill")}};
}

QString backgroundAudioDetail(const QString &audioDuringDictation)
{
    if (audioDuringDictation == QLatin1String("lower-volume"))
        return QStringLiteral("Lowers system output while the microphone is open, then restores it.");
    if (audioDuringDictation == QLatin1String("pause-playback"))
        return QStringLiteral("Pauses active media while the microphone is open, then resumes it.");
    return QStringLiteral("Leaves music and other audio untouched.");
}

QString backgroundAudioSymbol(const QString &audioDuringDictation)
{
    if (audioDuringDictation == QLatin1String("pause-playback"))
        return QStringLiteral("pause.fill");
    if (audioDuringDictation == QLatin1String("lower-volume"))
        return QStringLiteral("speaker.wave.1.fill");
    return QStringLiteral("play.fill");
}

std::vector<PickerChoice> engineChoices()
{
    return {{rawValue(BackendKind::local), QStringLiteral("On-device"), engineSymbol(BackendKind::local)},
            {rawValue(BackendKind::openai), QStringLiteral("OpenAI"), engineSymbol(BackendKind::openai)}};
}

QString engineSymbol(BackendKind backend)
{
    return backend == BackendKind::local ? QStringLiteral("desktopcomputer") : QStringLiteral("cloud");
}

std::vector<PickerChoice> languageChoices(const LanguageCatalogue &languages, const QString &backend,
                                          const std::optional<Language> &kept)
{
    std::vector<PickerChoice> choices{
        {QStringLiteral("auto"), QStringLiteral("System language"), QStringLiteral("globe")}};
    const QList<Language> &table = languages.languages(backend);
    for (const auto &language : table)
        choices.push_back({language.code, language.displayName, {}});
    if (kept && !table.contains(*kept))
        choices.push_back({kept->code, kept->displayName, {}});
    return choices;
}

LanguageNote unsupportedLanguageNote(const Language &language)
{
    return {QStringLiteral("%1 isn't supported on-device").arg(language.displayName),
            QStringLiteral("The recogniser on this computer has no model for %1. Use OpenAI with your API key, or "
                           "choose another on-device language.")
                .arg(language.displayName)};
}

QString cleanupDetail(BackendKind backend)
{
    return backend == BackendKind::openai ? QStringLiteral("Included in OpenAI transcription.")
                                          : QStringLiteral("On-device punctuation and filler cleanup.");
}

std::vector<QuestionGroup> faqGroups(const QString &triggersInForce)
{
    // The key that really starts a take here, not the default of another keyboard.
    const QString trigger = triggersInForce.isEmpty()
                                ? fromUtf8("none works yet: Fn does not reach this desktop, so choose one under "
                                           "General → Trigger")
                                : triggersInForce;
    return {
        {QStringLiteral("Dictating"),
         {{QStringLiteral("How do I dictate?"),
           fromUtf8("Hold your trigger key (") + trigger +
               fromUtf8("), speak, release — the words land wherever your cursor is. A quick tap instead locks "
                        "hands-free dictation; tap again to finish. Esc cancels. On Bluetooth headphones, speak "
                        "after the rising chime — that's the mic confirming it's live.")},
          {QStringLiteral("Why is dictation slower with Bluetooth headphones as the microphone?"),
           fromUtf8(
               "To record from Bluetooth headphones, the system has to switch them into call mode (HFP) — the "
               "same low-quality mode a phone call uses — which takes a few seconds and makes music sound "
               "flatter. Every dictation app hits this; it's a Bluetooth limitation, not a ZEPA QUARN bug (other "
               "dictation tools advise against earbuds as the microphone in their own documentation, too). "
               "ZEPA QUARN's recommendation is to leave your computer's built-in microphone selected for capture and "
               "use headphones for output only — that path ZEPA QUARN is engineered to keep instant and unbreakable, "
               "even during a call or as you connect and disconnect devices. If you do pick a Bluetooth mic, "
               "expect slower first starts, and ZEPA QUARN may hold the mic session warm — the microphone indicator "
               "stays on — so repeat dictations stay fast; turn off “Always-on Bluetooth microphone” under Audio "
               "to trade that back for music quality.")},
          {QStringLiteral("Pressing Fn does not start dictation"),
           fromUtf8(
               "On most keyboards the Fn 🌐 key is handled inside the keyboard and never reaches the X11 "
               "desktop, so ZEPA QUARN cannot hear it. Choose another primary preset, such as Right Control, or add "
               "a secondary keyboard or mouse trigger under General → Trigger.")},
          {QStringLiteral("Where does my text go?"),
           fromUtf8("Into the app you're using, at the cursor, via an instant paste. When the screen is locked or an "
                    "app refuses synthetic pastes (some password fields), your words are left on the clipboard and a "
                    "notification tells you — paste them yourself with Ctrl+V, or Ctrl+Shift+V in a terminal "
                    "(Shift+Insert in xterm and rxvt). Every take is also kept in History.")},
          {QStringLiteral("Why is my clipboard empty after I quit ZEPA QUARN?"),
           fromUtf8("Each paste borrows the clipboard (in xterm and rxvt-unicode, the selection you paste with "
                    "the middle button) and then puts back what you had, which ZEPA QUARN then holds. On X11 both "
                    "live in the app that holds them, so at quit ZEPA QUARN hands the clipboard to your desktop's "
                    "clipboard manager, which keeps it, and leaves the selection's text in the display's cut "
                    "buffer, which xterm and rxvt-unicode paste while nothing is selected (xterm only when every "
                    "character is in Latin-1: no emoji, curly quotes, long dashes, € or œ, nor other scripts); "
                    "other apps see no selection then. Without a clipboard manager (some minimal desktops run none) "
                    "the clipboard "
                    "empties as ZEPA QUARN quits: copy it again.")}}},
        {QStringLiteral("Privacy & cost"),
         {{QStringLiteral("What leaves my computer?"),
           fromUtf8("With the on-device engine, audio, transcripts and history stay local. With the OpenAI engine, "
                    "your recording is sent to OpenAI for transcription under your own API key, only while a take is "
                    "processing. If you choose Create invite link under Appearance, ZEPA QUARN asks ") +
               kProductHost +
               fromUtf8(" for one six-character code; later checks send only that code to read its verified-download "
                        "count. No audio, transcripts, history or device identifier is sent for invites. There is no "
                        "analytics or tracking; diagnostics stay local unless you choose to share them.")},
          {QStringLiteral("What does ZEPA QUARN cost?"),
           fromUtf8("The app is free. On-device transcription is free and unlimited. The optional OpenAI engine "
                    "bills your own API key — roughly $0.20 per hour of speech, no subscription.")}}},
        {QStringLiteral("Troubleshooting"),
         {{QStringLiteral("Fn suddenly does nothing"),
           fromUtf8("The tray ring dims when the trigger is unreachable. Usually the desktop stopped sharing key "
                    "events: ZEPA QUARN needs an X11 session (or XWayland) with its XInput and XTEST extensions — log "
                    "in to an X11 session, then relaunch the app. Fn itself rarely reaches the desktop; choose "
                    "another trigger under General → Trigger.")},
          {QStringLiteral("What does the red error ring mean?"),
           fromUtf8("The take captured no usable audio. ZEPA QUARN retries the microphone and even falls back to your "
                    "computer's built-in mic before showing it, so a red ring means it truly received nothing — check "
                    "Settings → Audio → Test microphone, then try again. On Bluetooth, remember to speak after the "
                    "chime.")},
          {QStringLiteral("How do updates work?"),
           fromUtf8("ZEPA QUARN checks ") + kProductHost +
               fromUtf8(
                   " once a day (after you allow automatic checks) and offers new versions with release notes. "
                   "Every download is verified against ZEPA QUARN's own update signature before it installs. Check "
                   "Now lives in Support.")}}}};
}

const std::vector<Question> &alwaysOnQuestions()
{
    static const std::vector<Question> questions{
        {QStringLiteral("Why is the mic indicator always on?"),
         fromUtf8("Always-on keeps a ready claim on your Bluetooth microphone — that claim is what the desktop's "
                  "microphone indicator shows. While you're not dictating, incoming audio is discarded the moment it "
                  "arrives: nothing is recorded, stored, or transcribed until you press your trigger. Turn always-on "
                  "off and the mic (and the indicator) release about a minute after each dictation.")},
        {QStringLiteral("What does always-on cost?"),
         fromUtf8("While the mic is held, Bluetooth headphones run in call-quality mode — music sounds flatter — and "
                  "use a little more battery. Every voice app pays this; it's how Bluetooth works, not a bug. If "
                  "music quality between dictations matters more to you than instant starts, switch always-on "
                  "off.")}};
    return questions;
}

const std::vector<Question> &onDeviceLanguageQuestions()
{
    static const std::vector<Question> questions{
        {QStringLiteral("How do I set up my language?"),
         fromUtf8(
             "Pick it under Output → Language below, or leave it on System language to follow your computer's system "
             "language. ZEPA QUARN matches your choice to the closest language the on-device recogniser supports. For "
             "best accuracy, pick the exact language you dictate in — System language is only as right as your system "
             "language.")},
        {QStringLiteral("Why is my first dictation in a new language slow?"),
         fromUtf8("The on-device speech model is loaded when ZEPA QUARN starts, so the very first take can sit on the "
                  "processing ring for a moment. Every dictation runs entirely on your computer, offline and free, and "
                  "your audio never leaves the machine. Speech models come from your system's packages; nothing is "
                  "downloaded.")}};
    return questions;
}

QStringList apiKeyHelpSteps()
{
    return {fromUtf8("Create an account at ") + kOpenAIAccountHost +
                fromUtf8(" — an API account is separate from ChatGPT, even if you already pay for that."),
            fromUtf8("Add a payment method under Settings → Billing. Transcription is pay-as-you-go: about $0.20 per "
                     "hour of speech, no subscription."),
            fromUtf8("Open the API keys page and click “Create new secret key”. Copy it right away — it is shown only "
                     "once."),
            fromUtf8("Paste the key (it starts with “sk-”) into the field here, then use Run Test to confirm it "
                     "works.")};
}

QString apiKeyPageTitle()
{
    return QStringLiteral("Open ") + kOpenAIAccountHost + QStringLiteral("/api-keys");
}

QString apiKeyPageUrl()
{
    return QStringLiteral("https://") + kOpenAIAccountHost + QStringLiteral("/api-keys");
}

} // namespace zq

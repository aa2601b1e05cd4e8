#pragma once

#include "records/DiagnosticEvent.h"
#include "records/DiagnosticRecord.h"
#include "runtime/Settings.h"
#include "support/ChildProcess.h"
#include "support/DBusSession.h"
#include "support/NotificationServer.h"
#include "support/PulseServer.h"
#include "support/TextTargetWindow.h"
#include "support/XvfbServer.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace zq::test {

// What the microphone does in an end-to-end run.
enum class Microphone {
    // A live microphone: a paced quiet noise floor, with speech spliced in by PipeFeeder::speak().
    Live,
    // A microphone that opens but never delivers a sample (nothing writes into it).
    Mute,
    // No microphone at all: the sound server lists no input.
    None,
};

// Everything the real application needs, private to one test: an X display (the test binary's own
// Xvfb, or one started here when there is none), a session bus with an unlocked keyring and a
// notification server, a sound server whose default and only microphone is the pipe microphone,
// a tray host (so the application lives in the tray and opens no window of its own at launch), a
// text window of another application in front, and a private HOME for the application.
//
// The application is the real binary, started with settings that finish onboarding and bind the
// trigger to F8 (a plain key xdotool can hold). Keys are pressed with xdotool on the display.
// Use from the thread that created it (the services die with it).
class E2EEnvironment {
public:
    // The trigger as xdotool names it, as Qt names it, and its storage value.
    static constexpr auto kTriggerKeyName = "F8";
    static constexpr int kTriggerQtKey = Qt::Key_F8;
    static QString triggerStorageValue();

    // A live microphone writes its audio in blocks of `microphoneBlock`, its room noise at most
    // `roomNoise` either way (see PipeFeeder).
    explicit E2EEnvironment(Microphone microphone = Microphone::Live,
                            std::chrono::milliseconds microphoneBlock = std::chrono::milliseconds(100),
                            int16_t roomNoise = PipeFeeder::kDefaultNoiseAmplitude);
    ~E2EEnvironment();
    E2EEnvironment(const E2EEnvironment &) = delete;
    E2EEnvironment &operator=(const E2EEnvironment &) = delete;

    // Starts the services and the target window. False with errorString() set.
    bool start();
    QString errorString() const { return m_error; }

    QString display() const { return m_display; }
    DBusSession &bus() { return m_bus; }
    NotificationServer &notifications() { return m_notifications; }
    PulseServer &pulse() { return m_pulse; }
    // The live microphone's feeder; null for a mute microphone.
    PipeFeeder *feeder() { return m_feeder.get(); }
    TextTargetWindow &target() { return m_target; }

    // The application's folders under its private HOME (as it derives them from XDG_*).
    QString configDir() const;
    QString dataDir() const;
    QString stateDir() const;

    // Writes the settings file the application starts with: onboarded, the trigger on F8, plus `extra`.
    bool writeSettings(const rt::SettingsTable &extra = {});
    // Variables the application gets on top of appEnvironment() from its next startApp() on.
    void addAppVariables(const QProcessEnvironment &variables);
    // Starts the application and waits until its log shows `readyLine` (by default: its trigger tap
    // runs). False with errorString() set.
    bool startApp(std::chrono::milliseconds timeout = std::chrono::seconds(30),
                  const QByteArray &readyLine = QByteArrayLiteral("hotkey: tap started"));
    // Quits it as a logout would (SIGTERM) and waits for it; false when it did not exit cleanly.
    bool stopApp(std::chrono::milliseconds timeout = std::chrono::seconds(15));
    bool isAppRunning() const { return m_app.isRunning(); }
    // The application's process id while it runs (for what /proc tells of it).
    pid_t appPid() const { return m_app.pid(); }
    // Waits for the application to end by itself; its exit status, or none when it did not end.
    std::optional<int> waitForAppExit(std::chrono::milliseconds timeout);
    // Whether the application's log of its latest launch holds a line containing `text`, waiting up to
    // `timeout`.
    bool waitForAppLog(const QByteArray &text, std::chrono::milliseconds timeout);
    QString appLogTail(int lines = 40) const;
    // How many times `text` occurs in the application's log, over every launch of this environment.
    int appLogCount(const QByteArray &text) const;
    QProcessEnvironment appEnvironment() const;

    // xdotool on the display: hold, let go, or tap a key (X key names such as "F8" or "Escape").
    bool keyDown(const char *key);
    bool keyUp(const char *key);
    bool tapKey(const char *key);
    bool pressTrigger() { return keyDown(kTriggerKeyName); }
    bool releaseTrigger() { return keyUp(kTriggerKeyName); }

    // What the application stored (empty when the file is missing or unreadable).
    QJsonArray history() const;
    QJsonObject stats() const;
    QJsonArray incidents() const;
    std::vector<DiagnosticRecord> journal() const;
    int journalCount(DiagnosticEvent event) const;
    // Waits until the journal holds at least `count` lines of `event`.
    bool waitForJournal(DiagnosticEvent event, int count, std::chrono::milliseconds timeout) const;
    // Seconds of audio in the take being recorded (its WAV file in the private take folder); 0 when
    // no take is recording. For waiting until the application has heard what was fed, however far
    // behind a loaded machine keeps it.
    double recordedSeconds() const;
    // Speaks `samples` into the take being recorded with a moment of room noise before and after, as a
    // person pauses around a sentence, and waits until the application has recorded all of it. False
    // with errorString() set.
    bool speakIntoTake(const std::vector<std::int16_t> &samples);

    // The packaged recording of real speech ("go forward ten meters"), 16 kHz mono; empty when missing.
    static std::vector<std::int16_t> speechSamples();
    static QString speechPath();
    static constexpr auto kSpeechWords = "go forward ten meters";
    // Lower case, punctuation dropped, single spaces: for comparing recognised words.
    static QString normalizedWords(const QString &text);
    // Whether `text` holds the packaged speech's words, whatever its case and punctuation.
    static bool isSpeechWords(const QString &text);

private:
    QString appHome() const;
    bool startTrayHost();

    const Microphone m_microphone;
    const std::chrono::milliseconds m_microphoneBlock;
    const int16_t m_roomNoise;
    // Declared in start order; destroyed in reverse, the application first.
    XvfbServer m_xvfb;
    QString m_display;
    DBusSession m_bus;
    NotificationServer m_notifications;
    PulseServer m_pulse;
    std::unique_ptr<PipeFeeder> m_feeder;
    std::unique_ptr<QTemporaryDir> m_home;
    ChildProcess m_tray;
    TextTargetWindow m_target;
    ChildProcess m_app;
    qint64 m_appLogStart = 0;
    QProcessEnvironment m_appVariables;
    QString m_error;
};

} // namespace zq::test

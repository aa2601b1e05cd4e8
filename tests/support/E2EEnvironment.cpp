#include "support/E2EEnvironment.h"

#include "pipeline/SettingsDefaults.h"
#include "pipeline/TriggerBinding.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QThread>

#include <csignal>

namespace zq::test {

namespace {

QJsonDocument readJson(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll());
}

} // namespace

QString E2EEnvironment::triggerStorageValue()
{
    // F8 in the logical key space the trigger settings are stored in.
    constexpr std::int64_t kF8 = 100;
    return TriggerBinding::keyboard(kF8, QStringLiteral("F8")).storageValue();
}

E2EEnvironment::E2EEnvironment(Microphone microphone, std::chrono::milliseconds microphoneBlock, int16_t roomNoise)
    : m_microphone(microphone), m_microphoneBlock(microphoneBlock), m_roomNoise(roomNoise)
{}

E2EEnvironment::~E2EEnvironment()
{
    if (m_app.isRunning())
        stopApp(std::chrono::seconds(5));
    m_target.stop();
    if (m_feeder)
        m_feeder->stop();
}

bool E2EEnvironment::start()
{
    m_display = sharedDisplay();
    if (m_display.isEmpty()) {
        if (!m_xvfb.start()) {
            m_error = QStringLiteral("Xvfb: ") + m_xvfb.errorString();
            return false;
        }
        m_display = m_xvfb.display();
    }

    if (!m_bus.start() || !m_bus.startKeyring()) {
        m_error = QStringLiteral("session bus: ") + m_bus.errorString();
        return false;
    }
    // Before the application: on a bus without a server, its first notice could start a real daemon.
    if (!m_notifications.start(m_bus.address())) {
        m_error = QStringLiteral("notification server: ") + m_notifications.errorString();
        return false;
    }

    // The pipe microphone is the only one, so a silent take cannot be rescued by another device.
    PulseDevices devices;
    devices.usbMicrophone = false;
    devices.bluetoothMicrophone = false;
    devices.builtInMicrophone = false;
    devices.pipeMicrophone = m_microphone != Microphone::None;
    if (devices.pipeMicrophone)
        devices.defaultSource = QString::fromLatin1(PulseServer::kPipeMicrophone);
    if (!m_pulse.start(devices)) {
        m_error = QStringLiteral("PulseAudio: ") + m_pulse.errorString();
        return false;
    }
    if (m_microphone == Microphone::Live) {
        m_feeder = std::make_unique<PipeFeeder>(m_pulse.micFifoPath(), m_roomNoise, m_microphoneBlock);
        if (!m_feeder->start()) {
            m_error = QStringLiteral("microphone feeder: ") + m_feeder->errorString();
            return false;
        }
    }

    m_home = makeServiceDir(QStringLiteral("zq-e2e-app"));
    if (!m_home->isValid()) {
        m_error = QStringLiteral("cannot make the application's HOME: ") + m_home->errorString();
        return false;
    }
    for (const char *folder : {"run", "config", "data", "state", "cache"}) {
        const QString path = m_home->filePath(QLatin1String(folder));
        QDir().mkpath(path);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    if (!startTrayHost())
        return false;
    if (!m_target.start(m_display)) {
        m_error = m_target.errorString();
        return false;
    }
    return true;
}

bool E2EEnvironment::startTrayHost()
{
    ChildSpec spec;
    spec.program = QStringLiteral("trayer");
    spec.arguments = {QStringLiteral("--edge"),  QStringLiteral("top"),         QStringLiteral("--align"),
                      QStringLiteral("right"),   QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                      QStringLiteral("--width"), QStringLiteral("100"),         QStringLiteral("--height"),
                      QStringLiteral("24")};
    spec.environment.insert(QStringLiteral("DISPLAY"), m_display);
    spec.logPath = appHome() + QStringLiteral("/trayer.log");
    if (!m_tray.start(spec)) {
        m_error = QStringLiteral("tray host: ") + m_tray.errorString();
        return false;
    }
    // The tray host owns the tray selection once its window is mapped.
    const QDeadlineTimer deadline(kLoadedMachineTimeout);
    while (!runTool(QStringLiteral("xdotool"),
                    {QStringLiteral("search"), QStringLiteral("--class"), QStringLiteral("trayer")}, spec.environment)
                .succeeded()) {
        if (deadline.hasExpired() || !m_tray.isRunning()) {
            m_error = QStringLiteral("the tray host did not map its window; its log:\n") + m_tray.logTail();
            return false;
        }
        QThread::msleep(50);
    }
    return true;
}

QString E2EEnvironment::appHome() const
{
    return m_home ? m_home->path() : QString();
}

QString E2EEnvironment::configDir() const
{
    return appHome() + QStringLiteral("/config/ZEPAquarn");
}

QString E2EEnvironment::dataDir() const
{
    return appHome() + QStringLiteral("/data/ZEPAquarn");
}

QString E2EEnvironment::stateDir() const
{
    return appHome() + QStringLiteral("/state/ZEPAquarn");
}

QProcessEnvironment E2EEnvironment::appEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString home = appHome();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/run"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_STATE_HOME"), home + QStringLiteral("/state"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus.address());
    env.insert(QStringLiteral("PULSE_SERVER"), m_pulse.serverAddress());
    env.remove(QStringLiteral("PULSE_SOURCE"));
    env.remove(QStringLiteral("PULSE_SINK"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("io.quorvane.*=true"));
    // An English desktop session, whatever the machine running the tests is set to: the recording is
    // English, and the on-device recogniser follows the session's language.
    env.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    env.remove(QStringLiteral("LANGUAGE"));
    env.remove(QStringLiteral("LC_ALL"));
    env.remove(QStringLiteral("LC_MESSAGES"));
    return env;
}

bool E2EEnvironment::writeSettings(const rt::SettingsTable &extra)
{
    if (!QDir().mkpath(configDir())) {
        m_error = QStringLiteral("cannot make ") + configDir();
        return false;
    }
    rt::Settings settings(configDir() + QStringLiteral("/settings.json"));
    settings.setValue(keys::onboarded, true);
    settings.setValue(keys::secondaryTriggerKey, triggerStorageValue());
    for (const auto &[key, value] : extra)
        settings.setValue(key, value);
    if (const auto saved = settings.sync(); !saved) {
        m_error = QStringLiteral("settings not written: ") + saved.error().message;
        return false;
    }
    return true;
}

void E2EEnvironment::addAppVariables(const QProcessEnvironment &variables)
{
    m_appVariables.insert(variables);
}

bool E2EEnvironment::startApp(std::chrono::milliseconds timeout, const QByteArray &readyLine)
{
    ChildSpec spec;
    spec.program = QStringLiteral(ZQ_APP_BINARY);
    spec.environment = appEnvironment();
    spec.environment.insert(m_appVariables);
    spec.standardOutput = ChildStream::Log;
    spec.standardError = ChildStream::Log;
    spec.logPath = appHome() + QStringLiteral("/app.log");
    // The log goes on across launches: this launch's lines are those after what is there now.
    m_appLogStart = QFileInfo(spec.logPath).size();
    if (!m_app.start(spec)) {
        m_error = QStringLiteral("the application did not start: ") + m_app.errorString();
        return false;
    }
    if (!waitForAppLog(readyLine, timeout)) {
        m_error = QStringLiteral("the application did not log \"") + QString::fromUtf8(readyLine) +
                  QStringLiteral("\"; its log:\n") + appLogTail();
        return false;
    }
    return true;
}

bool E2EEnvironment::stopApp(std::chrono::milliseconds timeout)
{
    if (!m_app.isRunning())
        return false;
    ::kill(m_app.pid(), SIGTERM);
    return m_app.waitForExit(QDeadlineTimer(timeout)) == 0;
}

std::optional<int> E2EEnvironment::waitForAppExit(std::chrono::milliseconds timeout)
{
    return m_app.waitForExit(QDeadlineTimer(timeout));
}

bool E2EEnvironment::waitForAppLog(const QByteArray &text, std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    for (;;) {
        // Read once more after the application exited: its last lines may hold the answer.
        const bool running = m_app.isRunning();
        QFile log(appHome() + QStringLiteral("/app.log"));
        if (log.open(QIODevice::ReadOnly) && log.seek(m_appLogStart) && log.readAll().contains(text))
            return true;
        if (!running || deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
}

int E2EEnvironment::appLogCount(const QByteArray &text) const
{
    QFile log(appHome() + QStringLiteral("/app.log"));
    if (!log.open(QIODevice::ReadOnly))
        return 0;
    return int(log.readAll().count(text));
}

QString E2EEnvironment::appLogTail(int lines) const
{
    QFile log(appHome() + QStringLiteral("/app.log"));
    if (!log.open(QIODevice::ReadOnly))
        return QStringLiteral("(no log)");
    const QStringList all = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'));
    return all.mid(qMax(0, all.size() - lines)).join(QLatin1Char('\n'));
}

bool E2EEnvironment::keyDown(const char *key)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    return runTool(QStringLiteral("xdotool"), {QStringLiteral("keydown"), QLatin1String(key)}, env).succeeded();
}

bool E2EEnvironment::keyUp(const char *key)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    return runTool(QStringLiteral("xdotool"), {QStringLiteral("keyup"), QLatin1String(key)}, env).succeeded();
}

bool E2EEnvironment::tapKey(const char *key)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    return runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QLatin1String(key)}, env).succeeded();
}

QJsonArray E2EEnvironment::history() const
{
    return readJson(dataDir() + QStringLiteral("/history.json")).array();
}

QJsonObject E2EEnvironment::stats() const
{
    return readJson(dataDir() + QStringLiteral("/stats.json")).object();
}

QJsonArray E2EEnvironment::incidents() const
{
    return readJson(dataDir() + QStringLiteral("/Incidents/incidents.json")).array();
}

std::vector<DiagnosticRecord> E2EEnvironment::journal() const
{
    std::vector<DiagnosticRecord> records;
    QFile file(stateDir() + QStringLiteral("/diagnostics.jsonl"));
    if (!file.open(QIODevice::ReadOnly))
        return records;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (auto record = DiagnosticRecord::fromJson(line))
            records.push_back(std::move(*record));
    }
    return records;
}

int E2EEnvironment::journalCount(DiagnosticEvent event) const
{
    int count = 0;
    for (const DiagnosticRecord &record : journal())
        count += record.event == event ? 1 : 0;
    return count;
}

bool E2EEnvironment::waitForJournal(DiagnosticEvent event, int count, std::chrono::milliseconds timeout) const
{
    const QDeadlineTimer deadline(timeout);
    while (journalCount(event) < count) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

QString E2EEnvironment::speechPath()
{
    return QStringLiteral("/usr/share/pocketsphinx/test/data/goforward.raw");
}

double E2EEnvironment::recordedSeconds() const
{
    const QDir takes(appEnvironment().value(QStringLiteral("XDG_RUNTIME_DIR")) + QStringLiteral("/ZEPAquarn-takes"));
    const QStringList files = takes.entryList({QStringLiteral("zepaquarn-*.wav")}, QDir::Files, QDir::Time);
    if (files.isEmpty())
        return 0;
    QFile file(takes.filePath(files.first()));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    // The byte rate sits at offset 28 in every WAV header; counting a longer header as audio is off by
    // a few milliseconds only.
    const QByteArray header = file.read(44);
    if (header.size() < 44)
        return 0;
    const auto byte = [&](int i) { return std::uint32_t(std::uint8_t(header[i])); };
    const std::uint32_t byteRate = byte(28) | byte(29) << 8 | byte(30) << 16 | byte(31) << 24;
    return byteRate == 0 ? 0 : double(file.size() - 44) / byteRate;
}

bool E2EEnvironment::speakIntoTake(const std::vector<std::int16_t> &samples)
{
    constexpr double kPauseBefore = 0.3;
    constexpr double kPauseAfter = 0.7;
    if (!waitFor([&] { return recordedSeconds() >= kPauseBefore; }, kLoadedMachineTimeout)) {
        m_error = QStringLiteral("the take recorded nothing");
        return false;
    }
    const double heard = recordedSeconds() + double(samples.size()) / PipeFeeder::kSampleRateHz + kPauseAfter;
    m_feeder->speak(samples);
    if (!m_feeder->waitUntilSpoken(kLoadedMachineTimeout)) {
        m_error = m_feeder->errorString();
        return false;
    }
    if (!waitFor([&] { return recordedSeconds() >= heard; }, kLoadedMachineTimeout)) {
        m_error = QStringLiteral("recorded %1 s of %2 s").arg(recordedSeconds()).arg(heard);
        return false;
    }
    return true;
}

std::vector<std::int16_t> E2EEnvironment::speechSamples()
{
    QFile file(speechPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    std::vector<std::int16_t> samples(size_t(bytes.size()) / 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        const auto low = std::uint8_t(bytes[qsizetype(2 * i)]);
        const auto high = std::uint8_t(bytes[qsizetype(2 * i + 1)]);
        samples[i] = std::int16_t(std::uint16_t(low | (high << 8)));
    }
    return samples;
}

QString E2EEnvironment::normalizedWords(const QString &text)
{
    QString words = text.toLower();
    for (QChar &c : words) {
        if (!c.isLetterOrNumber())
            c = QLatin1Char(' ');
    }
    return words.simplified();
}

bool E2EEnvironment::isSpeechWords(const QString &text)
{
    return normalizedWords(text) == QLatin1String(kSpeechWords);
}

} // namespace zq::test

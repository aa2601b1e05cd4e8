#pragma once

#include "platform/AudioHardware.h"
#include "runtime/SerialQueue.h"

#include <QByteArray>
#include <QString>

#include <chrono>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace zq::platform {

class PulseConnection;

// What PulseAudioHardware and its record streams share: the connection (begun in the background
// when asked to, made again after the server went away), the sources' ids, the listeners and the
// thread they run on.
//
// Reads: while the server's events reach us, the sources and the default source are kept as those
// events tell, so reading a device's properties costs no round trip to the server (the first
// capture of a launch opens with nothing but its stream to ask for). A source not seen yet is
// asked for, and so are the whole list and the default source.
//
// Ids: a source gets the next number of the registry's counter the first time it is seen on a
// connection; a source that comes back, or every source after a reconnection, gets a new one.
// Subscription events arrive on the loop thread and are handled on the registry's own
// notification queue, which is where listeners without a queue run.
class PulseAudioDeviceRegistry : public std::enable_shared_from_this<PulseAudioDeviceRegistry> {
public:
    struct SourceInfo {
        std::uint32_t index = 0;
        QByteArray name; // the server's source name: the device's uid
        QString description;
        int channels = 0;
        std::uint32_t rate = 0;
        bool isMonitor = false;
        std::uint32_t transportType = 0;
    };

    static std::shared_ptr<PulseAudioDeviceRegistry> create(QString serverAddress);
    ~PulseAudioDeviceRegistry();

    // Connects on the notification queue, so that the first read finds the connection made.
    void connectInBackground();

    // The ready connection, connecting when there is none; null when no server is reachable.
    std::shared_ptr<PulseConnection> connection();

    // All sources but monitors, in the server's order, each with its id.
    std::optional<std::vector<std::pair<AudioDeviceId, SourceInfo>>> inputSources();
    // A present device's source, read afresh; nullopt when gone or unreadable.
    std::optional<SourceInfo> source(AudioDeviceId device);
    std::optional<QByteArray> defaultSourceName();
    // The id of the (present) source of that name; nullopt when there is none.
    std::optional<AudioDeviceId> idForName(const QByteArray &name);
    // True while present, false once it vanished, nullopt for an id never handed out.
    std::optional<bool> isKnownAndPresent(AudioDeviceId device);
    std::optional<QByteArray> nameOf(AudioDeviceId device);
    // How long the device's rate has held, as far as the server's events tell; nullopt when they
    // do not reach us or the device is not present.
    std::optional<std::chrono::nanoseconds> rateHeldFor(AudioDeviceId device);

    rt::Result<AudioHardware::ListenerID> addListener(std::optional<AudioDeviceId> device,
                                                      std::optional<AudioHardware::SystemProperty> system,
                                                      std::optional<AudioHardware::DeviceProperty> property,
                                                      rt::Executor *queue, AudioHardware::Listener listener);
    void removeListener(AudioHardware::ListenerID listener);

    // Runs `work` on the notification queue.
    void post(std::function<void()> work);

    // How the server's properties of a source map to a transport-type code.
    static std::uint32_t transportTypeFor(const QByteArray &bus, const QByteArray &formFactor, const QByteArray &api,
                                          const QByteArray &deviceClass);

private:
    explicit PulseAudioDeviceRegistry(QString serverAddress);

    struct Entry {
        std::uint64_t epoch = 0;
        std::uint32_t index = 0;
        QByteArray name;
        bool present = true;
    };
    struct KeptSource {
        SourceInfo info;
        std::chrono::steady_clock::time_point rateSince;
    };
    struct Registration {
        std::optional<AudioDeviceId> device;
        std::optional<AudioHardware::SystemProperty> system;
        std::optional<AudioHardware::DeviceProperty> property;
        rt::Executor *queue = nullptr;
        AudioHardware::Listener callback;
    };

    AudioDeviceId idForLocked(std::uint64_t epoch, const SourceInfo &info);
    // Under m_mutex: the kept source of that index, null when sources are not kept or it is unseen.
    const KeptSource *keptLocked(std::uint32_t index) const;
    void handleEvent(std::uint64_t epoch, std::uint32_t eventType, std::uint32_t index);
    void handleConnectionLost(std::uint64_t epoch);
    // Under m_mutex: the listeners to call for a change.
    std::vector<std::pair<rt::Executor *, AudioHardware::Listener>>
    systemListenersLocked(AudioHardware::SystemProperty property) const;
    std::vector<std::pair<rt::Executor *, AudioHardware::Listener>>
    deviceListenersLocked(AudioDeviceId device, AudioHardware::DeviceProperty property) const;
    // Under m_mutex: marks the present devices of connections up to `throughEpoch` as gone and
    // collects who hears of it: their isAlive listeners and those of the device list and default input.
    void vanishDevicesLocked(std::uint64_t throughEpoch,
                             std::vector<std::pair<rt::Executor *, AudioHardware::Listener>> &listeners);
    static void fire(const std::vector<std::pair<rt::Executor *, AudioHardware::Listener>> &listeners);

    const QString m_serverAddress;
    rt::SerialQueue m_notifications;
    mutable std::mutex m_mutex;
    std::shared_ptr<PulseConnection> m_connection;
    std::uint64_t m_epoch = 0;
    AudioDeviceId m_nextID = 1;
    std::map<std::pair<std::uint64_t, std::uint32_t>, AudioDeviceId> m_ids;
    std::map<AudioDeviceId, Entry> m_entries;
    // The present connection's sources by index and its default source, as its events tell; only
    // while its subscription holds (m_keeping).
    std::map<std::uint32_t, KeptSource> m_sources;
    QByteArray m_defaultSource;
    bool m_keeping = false;
    AudioHardware::ListenerID m_nextListener = 1;
    std::map<AudioHardware::ListenerID, Registration> m_listeners;
};

} // namespace zq::platform

#include "platform/linux/pulse/PulseAudioDeviceRegistry.h"

#include "pipeline/InputTransport.h"
#include "platform/linux/pulse/PulseConnection.h"
#include "runtime/Log.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/operation.h>
#include <pulse/subscribe.h>

namespace zq::platform {

namespace {

// Below the HAL executor's deadline, so a slow server gives an absent read, not a wedged queue.
constexpr std::chrono::milliseconds kQueryTimeout{2000};
constexpr std::chrono::milliseconds kConnectTimeout{2000};

QByteArray property(const pa_source_info *info, const char *key)
{
    const char *value = pa_proplist_gets(info->proplist, key);
    return value ? QByteArray(value) : QByteArray();
}

PulseAudioDeviceRegistry::SourceInfo toSourceInfo(const pa_source_info *info)
{
    PulseAudioDeviceRegistry::SourceInfo result;
    result.index = info->index;
    result.name = QByteArray(info->name ? info->name : "");
    result.description = QString::fromUtf8(info->description ? info->description : "");
    result.channels = info->sample_spec.channels;
    result.rate = info->sample_spec.rate;
    result.isMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
    result.transportType = PulseAudioDeviceRegistry::transportTypeFor(
        property(info, PA_PROP_DEVICE_BUS), property(info, PA_PROP_DEVICE_FORM_FACTOR),
        property(info, PA_PROP_DEVICE_API), property(info, PA_PROP_DEVICE_CLASS));
    return result;
}

struct SourceQuery {
    std::vector<PulseAudioDeviceRegistry::SourceInfo> sources;
    bool failed = false;

    static void collect(pa_context *, const pa_source_info *info, int eol, void *userdata)
    {
        auto *query = static_cast<SourceQuery *>(userdata);
        if (eol < 0)
            query->failed = true;
        else if (eol == 0 && info)
            query->sources.push_back(toSourceInfo(info));
    }
};

std::optional<std::vector<PulseAudioDeviceRegistry::SourceInfo>> querySources(PulseConnection &connection)
{
    SourceQuery query;
    pa_operation *operation;
    {
        PulseConnection::Lock lock(connection);
        operation = pa_context_get_source_info_list(connection.context(), &SourceQuery::collect, &query);
    }
    if (!connection.await(operation, kQueryTimeout) || query.failed)
        return std::nullopt;
    return std::move(query.sources);
}

std::optional<PulseAudioDeviceRegistry::SourceInfo> querySource(PulseConnection &connection, std::uint32_t index)
{
    SourceQuery query;
    pa_operation *operation;
    {
        PulseConnection::Lock lock(connection);
        operation = pa_context_get_source_info_by_index(connection.context(), index, &SourceQuery::collect, &query);
    }
    if (!connection.await(operation, kQueryTimeout) || query.failed || query.sources.empty())
        return std::nullopt;
    return query.sources.front();
}

std::optional<PulseAudioDeviceRegistry::SourceInfo> querySourceByName(PulseConnection &connection,
                                                                      const QByteArray &name)
{
    SourceQuery query;
    pa_operation *operation;
    {
        PulseConnection::Lock lock(connection);
        operation =
            pa_context_get_source_info_by_name(connection.context(), name.constData(), &SourceQuery::collect, &query);
    }
    if (!connection.await(operation, kQueryTimeout) || query.failed || query.sources.empty())
        return std::nullopt;
    return query.sources.front();
}

std::optional<QByteArray> queryDefaultSource(PulseConnection &connection)
{
    struct Query {
        std::optional<QByteArray> name;
    } query;
    pa_operation *operation;
    {
        PulseConnection::Lock lock(connection);
        operation = pa_context_get_server_info(
            connection.context(),
            [](pa_context *, const pa_server_info *info, void *userdata) {
                if (info)
                    static_cast<Query *>(userdata)->name =
                        QByteArray(info->default_source_name ? info->default_source_name : "");
            },
            &query);
    }
    if (!connection.await(operation, kQueryTimeout))
        return std::nullopt;
    return query.name;
}

} // namespace

std::uint32_t PulseAudioDeviceRegistry::transportTypeFor(const QByteArray &bus, const QByteArray &formFactor,
                                                         const QByteArray &api, const QByteArray &deviceClass)
{
    if (bus == "bluetooth" || api == "bluez")
        return transportType::bluetooth;
    if (bus == "usb")
        return transportType::usb;
    if (formFactor == "internal" || bus == "pci" || bus == "platform")
        return transportType::builtIn;
    // Filters (remaps, echo cancellers) and null sources are made by software, not plugged in.
    if (deviceClass == "filter" || deviceClass == "virtual" || deviceClass == "abstract")
        return transportType::virtualDevice;
    return 0;
}

std::shared_ptr<PulseAudioDeviceRegistry> PulseAudioDeviceRegistry::create(QString serverAddress)
{
    return std::shared_ptr<PulseAudioDeviceRegistry>(new PulseAudioDeviceRegistry(std::move(serverAddress)));
}

PulseAudioDeviceRegistry::PulseAudioDeviceRegistry(QString serverAddress)
    : m_serverAddress(std::move(serverAddress)), m_notifications(QStringLiteral("io.quorvane.zepaquarn.pulse-events"))
{}

void PulseAudioDeviceRegistry::connectInBackground()
{
    m_notifications.post([weakSelf = weak_from_this()] {
        if (auto self = weakSelf.lock())
            self->connection();
    });
}

PulseAudioDeviceRegistry::~PulseAudioDeviceRegistry()
{
    // Close the connection first: its callbacks post here.
    std::lock_guard lock(m_mutex);
    m_connection.reset();
}

void PulseAudioDeviceRegistry::post(std::function<void()> work)
{
    m_notifications.post(std::move(work));
}

std::shared_ptr<PulseConnection> PulseAudioDeviceRegistry::connection()
{
    std::vector<std::pair<rt::Executor *, AudioHardware::Listener>> listeners;
    std::shared_ptr<PulseConnection> result;
    {
        std::lock_guard lock(m_mutex);
        if (m_connection && m_connection->isReady())
            return m_connection;
        const bool reconnecting = m_connection != nullptr;

        auto connection = std::make_shared<PulseConnection>(QStringLiteral("ZEPA QUARN"), m_serverAddress);
        const std::uint64_t epoch = m_epoch + 1;
        std::weak_ptr<PulseAudioDeviceRegistry> weakSelf = weak_from_this();
        // These run on the loop thread: hand the work to the notification queue.
        connection->setSubscriptionHandler([this, weakSelf, epoch](std::uint32_t eventType, std::uint32_t index) {
            m_notifications.post([weakSelf, epoch, eventType, index] {
                if (auto self = weakSelf.lock())
                    self->handleEvent(epoch, eventType, index);
            });
        });
        connection->setFailureHandler([this, weakSelf, epoch] {
            m_notifications.post([weakSelf, epoch] {
                if (auto self = weakSelf.lock())
                    self->handleConnectionLost(epoch);
            });
        });
        if (const auto connected = connection->connect(kConnectTimeout); !connected) {
            qCWarning(lcAudio) << "audio server unreachable:" << connected.error().message;
            return nullptr;
        }
        pa_operation *operation;
        {
            PulseConnection::Lock pulseLock(*connection);
            operation = pa_context_subscribe(
                connection->context(),
                static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER), nullptr,
                nullptr);
        }
        const bool subscribed = connection->await(operation, kQueryTimeout);
        if (!subscribed)
            qCWarning(lcAudio) << "audio server: could not subscribe to device changes";

        // Subscribed first, read second: a change in between is read here and told again by its event.
        m_epoch = epoch;
        m_connection = connection;
        const auto defaultSource = queryDefaultSource(*connection);
        const auto sources = querySources(*connection);
        m_defaultSource = defaultSource.value_or(QByteArray());
        m_sources.clear();
        const auto now = std::chrono::steady_clock::now();
        for (const SourceInfo &info : sources.value_or(std::vector<SourceInfo>{}))
            m_sources[info.index] = KeptSource{info, now};
        m_keeping = subscribed && defaultSource && sources;
        // Every device of the old connection is gone; the same sources come back with new ids.
        if (reconnecting)
            vanishDevicesLocked(epoch - 1, listeners);
        result = m_connection;
    }
    if (!listeners.empty())
        m_notifications.post([listeners] { fire(listeners); });
    return result;
}

const PulseAudioDeviceRegistry::KeptSource *PulseAudioDeviceRegistry::keptLocked(std::uint32_t index) const
{
    if (!m_keeping)
        return nullptr;
    const auto found = m_sources.find(index);
    return found == m_sources.end() ? nullptr : &found->second;
}

AudioDeviceId PulseAudioDeviceRegistry::idForLocked(std::uint64_t epoch, const SourceInfo &info)
{
    const auto key = std::make_pair(epoch, info.index);
    if (const auto found = m_ids.find(key); found != m_ids.end())
        return found->second;
    const AudioDeviceId id = m_nextID++;
    m_ids.emplace(key, id);
    m_entries.emplace(id, Entry{epoch, info.index, info.name, true});
    return id;
}

std::optional<std::vector<std::pair<AudioDeviceId, PulseAudioDeviceRegistry::SourceInfo>>>
PulseAudioDeviceRegistry::inputSources()
{
    const auto connection = this->connection();
    if (!connection)
        return std::nullopt;
    // Asked afresh: a list is read where a user looks at it, not on the way to a take, and must
    // hold a source that was plugged in a moment ago.
    auto sources = querySources(*connection);
    if (!sources)
        return std::nullopt;
    std::vector<std::pair<AudioDeviceId, SourceInfo>> result;
    std::lock_guard lock(m_mutex);
    if (connection != m_connection)
        return std::nullopt; // the server went away meanwhile
    for (SourceInfo &info : *sources) {
        if (info.isMonitor)
            continue; // a monitor records what a sink plays: not a microphone
        const AudioDeviceId id = idForLocked(m_epoch, info);
        result.emplace_back(id, std::move(info));
    }
    return result;
}

std::optional<PulseAudioDeviceRegistry::SourceInfo> PulseAudioDeviceRegistry::source(AudioDeviceId device)
{
    const auto connection = this->connection();
    if (!connection)
        return std::nullopt;
    std::uint32_t index;
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_entries.find(device);
        if (found == m_entries.end() || !found->second.present || found->second.epoch != m_epoch)
            return std::nullopt;
        index = found->second.index;
        if (const KeptSource *kept = keptLocked(index); kept && connection == m_connection)
            return kept->info.isMonitor ? std::nullopt : std::optional(kept->info);
    }
    auto info = querySource(*connection, index);
    if (!info || info->isMonitor)
        return std::nullopt;
    return info;
}

std::optional<QByteArray> PulseAudioDeviceRegistry::defaultSourceName()
{
    const auto connection = this->connection();
    if (!connection)
        return std::nullopt;
    // Asked afresh: a default changed a moment ago must count for the take that starts now.
    return queryDefaultSource(*connection);
}

std::optional<AudioDeviceId> PulseAudioDeviceRegistry::idForName(const QByteArray &name)
{
    const auto connection = this->connection();
    if (!connection)
        return std::nullopt;
    {
        std::lock_guard lock(m_mutex);
        if (m_keeping && connection == m_connection) {
            for (const auto &[index, kept] : m_sources)
                if (kept.info.name == name)
                    return kept.info.isMonitor ? std::nullopt : std::optional(idForLocked(m_epoch, kept.info));
        }
    }
    // Not seen yet (its event is still on its way), or sources are not kept: ask.
    const auto info = querySourceByName(*connection, name);
    if (!info || info->isMonitor)
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    if (connection != m_connection)
        return std::nullopt;
    return idForLocked(m_epoch, *info);
}

std::optional<bool> PulseAudioDeviceRegistry::isKnownAndPresent(AudioDeviceId device)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_entries.find(device);
    if (found == m_entries.end())
        return std::nullopt;
    return found->second.present && found->second.epoch == m_epoch;
}

std::optional<QByteArray> PulseAudioDeviceRegistry::nameOf(AudioDeviceId device)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_entries.find(device);
    if (found == m_entries.end() || !found->second.present || found->second.epoch != m_epoch)
        return std::nullopt;
    return found->second.name;
}

std::optional<std::chrono::nanoseconds> PulseAudioDeviceRegistry::rateHeldFor(AudioDeviceId device)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_entries.find(device);
    if (found == m_entries.end() || !found->second.present || found->second.epoch != m_epoch)
        return std::nullopt;
    const KeptSource *kept = keptLocked(found->second.index);
    if (!kept)
        return std::nullopt;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - kept->rateSince);
}

rt::Result<AudioHardware::ListenerID> PulseAudioDeviceRegistry::addListener(
    std::optional<AudioDeviceId> device, std::optional<AudioHardware::SystemProperty> system,
    std::optional<AudioHardware::DeviceProperty> property, rt::Executor *queue, AudioHardware::Listener listener)
{
    // A listener of the system waits for the connection's events, whenever it is made; one of a
    // device needs that device present now.
    std::lock_guard lock(m_mutex);
    if (device) {
        const auto found = m_entries.find(*device);
        if (found == m_entries.end() || !found->second.present || found->second.epoch != m_epoch)
            return rt::makeError(QStringLiteral("The audio device is not present"), QStringLiteral("pulse"), -2);
    }
    const AudioHardware::ListenerID id = m_nextListener++;
    m_listeners.emplace(id, Registration{device, system, property, queue, std::move(listener)});
    return id;
}

void PulseAudioDeviceRegistry::removeListener(AudioHardware::ListenerID listener)
{
    std::lock_guard lock(m_mutex);
    m_listeners.erase(listener);
}

std::vector<std::pair<rt::Executor *, AudioHardware::Listener>>
PulseAudioDeviceRegistry::systemListenersLocked(AudioHardware::SystemProperty property) const
{
    std::vector<std::pair<rt::Executor *, AudioHardware::Listener>> result;
    for (const auto &[id, registration] : m_listeners) {
        if (registration.system == property)
            result.emplace_back(registration.queue, registration.callback);
    }
    return result;
}

std::vector<std::pair<rt::Executor *, AudioHardware::Listener>>
PulseAudioDeviceRegistry::deviceListenersLocked(AudioDeviceId device, AudioHardware::DeviceProperty property) const
{
    std::vector<std::pair<rt::Executor *, AudioHardware::Listener>> result;
    for (const auto &[id, registration] : m_listeners) {
        if (registration.device == device && registration.property == property)
            result.emplace_back(registration.queue, registration.callback);
    }
    return result;
}

void PulseAudioDeviceRegistry::fire(const std::vector<std::pair<rt::Executor *, AudioHardware::Listener>> &listeners)
{
    for (const auto &[queue, callback] : listeners) {
        if (queue)
            queue->post(callback);
        else
            callback();
    }
}

void PulseAudioDeviceRegistry::handleEvent(std::uint64_t epoch, std::uint32_t eventType, std::uint32_t index)
{
    const std::uint32_t facility = eventType & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const std::uint32_t kind = eventType & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    std::shared_ptr<PulseConnection> connection;
    {
        std::lock_guard lock(m_mutex);
        if (epoch != m_epoch || !m_connection)
            return; // an event of a connection that is gone
        connection = m_connection;
    }
    std::vector<std::pair<rt::Executor *, AudioHardware::Listener>> listeners;
    if (facility == PA_SUBSCRIPTION_EVENT_SOURCE && kind == PA_SUBSCRIPTION_EVENT_NEW) {
        const auto info = querySource(*connection, index);
        std::lock_guard lock(m_mutex);
        if (info && epoch == m_epoch)
            m_sources[index] = KeptSource{*info, std::chrono::steady_clock::now()};
        listeners = systemListenersLocked(AudioHardware::SystemProperty::devices);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SOURCE && kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
        std::lock_guard lock(m_mutex);
        m_sources.erase(index);
        if (const auto found = m_ids.find({epoch, index}); found != m_ids.end()) {
            m_entries[found->second].present = false;
            listeners = deviceListenersLocked(found->second, AudioHardware::DeviceProperty::isAlive);
        }
        const auto system = systemListenersLocked(AudioHardware::SystemProperty::devices);
        listeners.insert(listeners.end(), system.begin(), system.end());
    } else if (facility == PA_SUBSCRIPTION_EVENT_SOURCE && kind == PA_SUBSCRIPTION_EVENT_CHANGE) {
        const auto info = querySource(*connection, index);
        if (!info)
            return;
        std::lock_guard lock(m_mutex);
        if (epoch != m_epoch)
            return;
        const auto now = std::chrono::steady_clock::now();
        const auto [kept, added] = m_sources.try_emplace(index, KeptSource{*info, now});
        const bool rateChanged = added || kept->second.info.rate != info->rate;
        kept->second.info = *info; // a description or a port may have changed
        if (!rateChanged)
            return; // volume, mute, port: nothing the capture side watches
        kept->second.rateSince = now;
        if (const auto found = m_ids.find({epoch, index}); found != m_ids.end())
            listeners = deviceListenersLocked(found->second, AudioHardware::DeviceProperty::nominalSampleRate);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        const auto name = queryDefaultSource(*connection);
        if (!name)
            return;
        std::lock_guard lock(m_mutex);
        if (epoch != m_epoch || *name == m_defaultSource)
            return;
        m_defaultSource = *name;
        listeners = systemListenersLocked(AudioHardware::SystemProperty::defaultInputDevice);
    }
    fire(listeners);
}

void PulseAudioDeviceRegistry::handleConnectionLost(std::uint64_t epoch)
{
    std::vector<std::pair<rt::Executor *, AudioHardware::Listener>> listeners;
    {
        std::lock_guard lock(m_mutex);
        if (epoch != m_epoch)
            return;
        qCWarning(lcAudio) << "audio server connection lost";
        vanishDevicesLocked(epoch, listeners);
    }
    fire(listeners);
}

void PulseAudioDeviceRegistry::vanishDevicesLocked(
    std::uint64_t throughEpoch, std::vector<std::pair<rt::Executor *, AudioHardware::Listener>> &listeners)
{
    for (auto &[id, entry] : m_entries) {
        if (entry.present && entry.epoch <= throughEpoch) {
            entry.present = false;
            const auto alive = deviceListenersLocked(id, AudioHardware::DeviceProperty::isAlive);
            listeners.insert(listeners.end(), alive.begin(), alive.end());
        }
    }
    for (auto property : {AudioHardware::SystemProperty::devices, AudioHardware::SystemProperty::defaultInputDevice}) {
        const auto system = systemListenersLocked(property);
        listeners.insert(listeners.end(), system.begin(), system.end());
    }
}

} // namespace zq::platform

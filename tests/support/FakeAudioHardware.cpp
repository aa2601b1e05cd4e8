#include "support/FakeAudioHardware.h"

#include <algorithm>
#include <set>

namespace zq::test {

using platform::AudioDeviceId;
using platform::AudioFormat;
using platform::AudioHardware;
using platform::CaptureCycle;
using platform::RecordStream;

namespace {

rt::Error statusError(int status, const char *what)
{
    return rt::makeError(QStringLiteral("fake audio hardware: %1 failed").arg(QLatin1String(what)),
                         QStringLiteral("fake"), status);
}

} // namespace

struct FakeAudioHardware::State {
    struct Listener {
        std::optional<AudioDeviceId> device; // none: a system listener
        std::optional<SystemProperty> systemProperty;
        std::optional<DeviceProperty> deviceProperty;
        rt::Executor *queue = nullptr;
        AudioHardware::Listener callback;
    };
    struct Failure {
        int status = 0;
        int remaining = 0; // -1: always
    };

    mutable std::mutex mutex;
    AudioDeviceId nextID = 1;
    std::vector<std::pair<AudioDeviceId, Device>> devices; // in order
    std::set<AudioDeviceId> removed;
    std::set<AudioDeviceId> silent;
    std::map<AudioDeviceId, AudioDeviceId> reportedRoutes;
    AudioDeviceId defaultInput = 0;
    std::uint32_t maximumFrames = 4096;
    std::map<Step, Failure> failures;
    std::map<Step, std::shared_ptr<FakeGate>> gates;
    std::map<Step, int> calls;
    ListenerID nextListener = 1;
    std::map<ListenerID, Listener> listeners;
    std::vector<FakeRecordStream *> units;

    const Device *device(AudioDeviceId id) const
    {
        for (const auto &[candidate, device] : devices) {
            if (candidate == id)
                return &device;
        }
        return nullptr;
    }
    std::vector<std::pair<rt::Executor *, AudioHardware::Listener>> system(SystemProperty property) const
    {
        std::vector<std::pair<rt::Executor *, AudioHardware::Listener>> result;
        for (const auto &[id, listener] : listeners) {
            if (listener.systemProperty == property)
                result.emplace_back(listener.queue, listener.callback);
        }
        return result;
    }
    std::vector<std::pair<rt::Executor *, AudioHardware::Listener>> ofDevice(AudioDeviceId device,
                                                                             DeviceProperty property) const
    {
        std::vector<std::pair<rt::Executor *, AudioHardware::Listener>> result;
        for (const auto &[id, listener] : listeners) {
            if (listener.device == device && listener.deviceProperty == property)
                result.emplace_back(listener.queue, listener.callback);
        }
        return result;
    }
};

class FakeRecordStream final : public RecordStream {
public:
    FakeRecordStream(FakeAudioHardware &hardware, std::shared_ptr<FakeAudioHardware::State> state)
        : m_hardware(hardware), m_state(std::move(state))
    {
        std::lock_guard lock(m_state->mutex);
        m_state->units.push_back(this);
    }
    ~FakeRecordStream() override
    {
        std::lock_guard cycle(m_cycleMutex);
        std::lock_guard lock(m_state->mutex);
        std::erase(m_state->units, this);
    }

    std::optional<bool> isIOEnabled(IOScope scope) const override
    {
        if (m_hardware.enter(Step::isIOEnabled))
            return std::nullopt;
        std::lock_guard lock(m_state->mutex);
        return scope == IOScope::input ? m_inputEnabled : m_outputEnabled;
    }
    rt::Result<void> setIOEnabled(IOScope scope, bool enabled) override
    {
        if (const auto status = m_hardware.enter(Step::setIOEnabled))
            return statusError(*status, "setIOEnabled");
        std::lock_guard lock(m_state->mutex);
        (scope == IOScope::input ? m_inputEnabled : m_outputEnabled) = enabled;
        ++m_ioWrites;
        return {};
    }
    rt::Result<void> setCurrentDevice(AudioDeviceId device) override
    {
        if (const auto status = m_hardware.enter(Step::setCurrentDevice))
            return statusError(*status, "setCurrentDevice");
        std::lock_guard lock(m_state->mutex);
        if (!m_state->device(device))
            return statusError(-10851, "setCurrentDevice (no such device)");
        m_device = device;
        return {};
    }
    std::optional<AudioDeviceId> currentDevice() const override
    {
        if (m_hardware.enter(Step::currentDevice))
            return std::nullopt;
        std::lock_guard lock(m_state->mutex);
        return boundLocked();
    }
    std::optional<AudioFormat> inputFormat() const override
    {
        if (m_hardware.enter(Step::inputFormat))
            return std::nullopt;
        std::lock_guard lock(m_state->mutex);
        const auto bound = boundLocked();
        const FakeAudioHardware::Device *device = bound ? m_state->device(*bound) : nullptr;
        if (!device)
            return std::nullopt;
        AudioFormat format;
        format.sampleRate = device->nominalRate;
        format.channelCount = device->inputChannels;
        return format;
    }
    rt::Result<void> setClientFormat(const AudioFormat &format) override
    {
        if (const auto status = m_hardware.enter(Step::setClientFormat))
            return statusError(*status, "setClientFormat");
        if (!format.isValid())
            return statusError(-10868, "setClientFormat (invalid format)");
        std::lock_guard lock(m_state->mutex);
        m_clientFormat = format;
        return {};
    }
    std::optional<AudioFormat> clientFormat() const override
    {
        std::lock_guard lock(m_state->mutex);
        return m_clientFormat;
    }
    std::optional<std::uint32_t> maximumFramesPerCycle() const override
    {
        if (m_hardware.enter(Step::maximumFrames))
            return std::nullopt;
        std::lock_guard lock(m_state->mutex);
        return m_state->maximumFrames;
    }
    rt::Result<void> setInputCallback(InputCallback callback) override
    {
        if (const auto status = m_hardware.enter(Step::setInputCallback))
            return statusError(*status, "setInputCallback");
        std::lock_guard cycle(m_cycleMutex);
        m_callback = std::move(callback);
        return {};
    }
    void setConfigurationChangeHandler(ConfigurationChangeHandler handler) override
    {
        std::lock_guard lock(m_state->mutex);
        m_configurationChanged = std::move(handler);
    }
    rt::Result<void> initialize() override
    {
        if (const auto status = m_hardware.enter(Step::initialize))
            return statusError(*status, "initialize");
        std::lock_guard lock(m_state->mutex);
        m_initialized = true;
        return {};
    }
    rt::Result<void> start() override
    {
        if (const auto status = m_hardware.enter(Step::start))
            return statusError(*status, "start");
        std::lock_guard lock(m_state->mutex);
        const auto bound = boundLocked();
        if (!m_initialized || !bound || !m_state->device(*bound))
            return statusError(-10867, "start (not ready)");
        m_running = true;
        return {};
    }
    rt::Result<void> stop() override
    {
        if (const auto status = m_hardware.enter(Step::stop))
            return statusError(*status, "stop");
        // Taking the cycle lock waits out a callback in flight.
        std::lock_guard cycle(m_cycleMutex);
        std::lock_guard lock(m_state->mutex);
        m_running = false;
        return {};
    }
    rt::Result<void> uninitialize() override
    {
        if (const auto status = m_hardware.enter(Step::uninitialize))
            return statusError(*status, "uninitialize");
        std::lock_guard lock(m_state->mutex);
        m_initialized = false;
        return {};
    }
    int render(const CaptureCycle &cycle, float *const *planes, int planeCount, std::uint32_t frames) override
    {
        if (const auto status = m_hardware.enter(Step::render))
            return *status;
        if (frames > cycle.frames)
            return -50;
        for (int c = 0; c < planeCount; ++c)
            std::fill_n(planes[c], frames, m_cycleValue);
        return 0;
    }

    // Runs one cycle; false when the unit does not run or its device is silent or gone.
    bool deliver(std::uint32_t frames, float value)
    {
        std::lock_guard cycle(m_cycleMutex);
        {
            std::lock_guard lock(m_state->mutex);
            const auto bound = boundLocked();
            if (!m_running || !bound || m_state->silent.count(*bound) || !m_callback)
                return false;
        }
        m_cycleValue = value;
        m_callback(CaptureCycle{frames, m_sampleTime});
        m_sampleTime += frames;
        return true;
    }
    bool isRunning() const { return m_running; }
    AudioDeviceId boundOrZero() const { return boundLocked().value_or(0); }
    // Under the state lock: the device vanished; returns the handler to call outside the lock.
    ConfigurationChangeHandler deviceRemoved(AudioDeviceId device)
    {
        if (boundLocked() != device)
            return {};
        m_running = false;
        return m_configurationChanged;
    }
    int ioWrites() const { return m_ioWrites; }

private:
    using Step = FakeAudioHardware::Step;

    // Under the state lock.
    std::optional<AudioDeviceId> boundLocked() const
    {
        const AudioDeviceId device = m_device ? *m_device : m_state->defaultInput;
        if (device == 0)
            return std::nullopt;
        const auto route = m_state->reportedRoutes.find(device);
        return route != m_state->reportedRoutes.end() ? route->second : device;
    }

    FakeAudioHardware &m_hardware;
    std::shared_ptr<FakeAudioHardware::State> m_state;
    std::mutex m_cycleMutex;
    std::optional<AudioDeviceId> m_device;
    std::optional<AudioFormat> m_clientFormat;
    bool m_inputEnabled = false; // a fresh unit plays and does not capture
    bool m_outputEnabled = true;
    int m_ioWrites = 0;
    bool m_initialized = false;
    bool m_running = false;
    InputCallback m_callback;
    ConfigurationChangeHandler m_configurationChanged;
    float m_cycleValue = 0;
    double m_sampleTime = 0;
};

FakeAudioHardware::FakeAudioHardware() : m_state(std::make_shared<State>()) {}

FakeAudioHardware::~FakeAudioHardware() = default;

std::optional<int> FakeAudioHardware::enter(Step step)
{
    std::shared_ptr<FakeGate> gate;
    std::optional<int> status;
    {
        std::lock_guard lock(m_state->mutex);
        ++m_state->calls[step];
        if (auto found = m_state->gates.find(step); found != m_state->gates.end()) {
            gate = found->second;
            m_state->gates.erase(found);
        }
        if (auto found = m_state->failures.find(step); found != m_state->failures.end()) {
            status = found->second.status;
            if (found->second.remaining > 0 && --found->second.remaining == 0)
                m_state->failures.erase(found);
        }
    }
    if (gate)
        gate->pass();
    return status;
}

void FakeAudioHardware::fire(const std::vector<std::pair<rt::Executor *, Listener>> &listeners)
{
    for (const auto &[queue, callback] : listeners) {
        if (queue)
            queue->post(callback);
        else
            callback();
    }
}

AudioDeviceId FakeAudioHardware::addDevice(Device device)
{
    AudioDeviceId id;
    std::vector<std::pair<rt::Executor *, Listener>> listeners;
    {
        std::lock_guard lock(m_state->mutex);
        id = m_state->nextID++;
        m_state->devices.emplace_back(id, std::move(device));
        listeners = m_state->system(SystemProperty::devices);
    }
    fire(listeners);
    return id;
}

void FakeAudioHardware::removeDevice(AudioDeviceId device)
{
    std::vector<std::pair<rt::Executor *, Listener>> listeners;
    std::vector<RecordStream::ConfigurationChangeHandler> handlers;
    {
        std::lock_guard lock(m_state->mutex);
        std::erase_if(m_state->devices, [device](const auto &entry) { return entry.first == device; });
        m_state->removed.insert(device);
        listeners = m_state->ofDevice(device, DeviceProperty::isAlive);
        const auto listChanged = m_state->system(SystemProperty::devices);
        listeners.insert(listeners.end(), listChanged.begin(), listChanged.end());
        if (m_state->defaultInput == device) {
            m_state->defaultInput = 0;
            const auto defaultChanged = m_state->system(SystemProperty::defaultInputDevice);
            listeners.insert(listeners.end(), defaultChanged.begin(), defaultChanged.end());
        }
        for (FakeRecordStream *unit : m_state->units) {
            if (auto handler = unit->deviceRemoved(device))
                handlers.push_back(std::move(handler));
        }
    }
    fire(listeners);
    for (const auto &handler : handlers)
        handler();
}

void FakeAudioHardware::setDefaultInput(AudioDeviceId device)
{
    std::vector<std::pair<rt::Executor *, Listener>> listeners;
    {
        std::lock_guard lock(m_state->mutex);
        m_state->defaultInput = device;
        listeners = m_state->system(SystemProperty::defaultInputDevice);
    }
    fire(listeners);
}

void FakeAudioHardware::setNominalRate(AudioDeviceId device, double rate)
{
    std::vector<std::pair<rt::Executor *, Listener>> listeners;
    {
        std::lock_guard lock(m_state->mutex);
        for (auto &[id, entry] : m_state->devices) {
            if (id == device)
                entry.nominalRate = rate;
        }
        listeners = m_state->ofDevice(device, DeviceProperty::nominalSampleRate);
    }
    fire(listeners);
}

void FakeAudioHardware::setNominalRateHeldFor(AudioDeviceId device, std::optional<rt::Nanos> held)
{
    std::lock_guard lock(m_state->mutex);
    for (auto &[id, entry] : m_state->devices) {
        if (id == device)
            entry.nominalRateHeldFor = held;
    }
}

void FakeAudioHardware::setSilent(AudioDeviceId device, bool silent)
{
    std::lock_guard lock(m_state->mutex);
    if (silent)
        m_state->silent.insert(device);
    else
        m_state->silent.erase(device);
}

void FakeAudioHardware::setReportedRoute(AudioDeviceId device, std::optional<AudioDeviceId> reported)
{
    std::lock_guard lock(m_state->mutex);
    if (reported)
        m_state->reportedRoutes[device] = *reported;
    else
        m_state->reportedRoutes.erase(device);
}

void FakeAudioHardware::setMaximumFramesPerCycle(std::uint32_t frames)
{
    std::lock_guard lock(m_state->mutex);
    m_state->maximumFrames = frames;
}

void FakeAudioHardware::failAt(Step step, int status, int times)
{
    std::lock_guard lock(m_state->mutex);
    m_state->failures[step] = State::Failure{status, times};
}

void FakeAudioHardware::clearFailures()
{
    std::lock_guard lock(m_state->mutex);
    m_state->failures.clear();
}

std::shared_ptr<FakeGate> FakeAudioHardware::blockAt(Step step)
{
    auto gate = std::make_shared<FakeGate>();
    std::lock_guard lock(m_state->mutex);
    m_state->gates[step] = gate;
    return gate;
}

int FakeAudioHardware::callCount(Step step) const
{
    std::lock_guard lock(m_state->mutex);
    const auto found = m_state->calls.find(step);
    return found == m_state->calls.end() ? 0 : found->second;
}

int FakeAudioHardware::deliver(std::uint32_t frames, float value)
{
    std::vector<FakeRecordStream *> units;
    {
        std::lock_guard lock(m_state->mutex);
        units = m_state->units;
    }
    // Units are destroyed only by their owners, who do not race a test's deliver().
    int delivered = 0;
    for (FakeRecordStream *unit : units)
        delivered += unit->deliver(frames, value) ? 1 : 0;
    return delivered;
}

int FakeAudioHardware::runningUnitCount() const
{
    std::lock_guard lock(m_state->mutex);
    return static_cast<int>(std::count_if(m_state->units.begin(), m_state->units.end(),
                                          [](const FakeRecordStream *unit) { return unit->isRunning(); }));
}

int FakeAudioHardware::liveUnitCount() const
{
    std::lock_guard lock(m_state->mutex);
    return static_cast<int>(m_state->units.size());
}

std::size_t FakeAudioHardware::listenerCount() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->listeners.size();
}

std::optional<std::vector<AudioDeviceId>> FakeAudioHardware::devices()
{
    if (enter(Step::devices))
        return std::nullopt;
    std::lock_guard lock(m_state->mutex);
    std::vector<AudioDeviceId> ids;
    for (const auto &entry : m_state->devices)
        ids.push_back(entry.first);
    return ids;
}

std::optional<AudioDeviceId> FakeAudioHardware::defaultInputDevice()
{
    if (enter(Step::defaultInput))
        return std::nullopt;
    std::lock_guard lock(m_state->mutex);
    return m_state->defaultInput;
}

std::optional<int> FakeAudioHardware::inputChannelCount(AudioDeviceId id)
{
    if (enter(Step::inputChannels))
        return std::nullopt;
    std::lock_guard lock(m_state->mutex);
    const Device *device = m_state->device(id);
    return device ? std::optional(device->inputChannels) : std::nullopt;
}

std::optional<QString> FakeAudioHardware::stringProperty(AudioDeviceId id, StringProperty property)
{
    if (enter(property == StringProperty::name ? Step::name : Step::uid))
        return std::nullopt;
    std::lock_guard lock(m_state->mutex);
    const Device *device = m_state->device(id);
    if (!device)
        return std::nullopt;
    return property == StringProperty::name ? device->name : device->uid;
}

std::optional<std::uint32_t> FakeAudioHardware::transportType(AudioDeviceId id)
{
    if (enter(Step::transport))
        return std::nullopt;
    std::lock_guard lock(m_state->mutex);
    const Device *device = m_state->device(id);
    return device ? device->transport : std::nullopt;
}

std::optional<rt::Nanos> FakeAudioHardware::nominalSampleRateHeldFor(AudioDeviceId id)
{
    std::lock_guard lock(m_state->mutex);
    const Device *device = m_state->device(id);
    return device ? device->nominalRateHeldFor : std::nullopt;
}

std::optional<double> FakeAudioHardware::nominalSampleRate(AudioDeviceId id)
{
    if (enter(Step::nominalRate))
        return std::nullopt;
    std::lock_guard lock(m_state->mutex);
    const Device *device = m_state->device(id);
    return device ? std::optional(device->nominalRate) : std::nullopt;
}

std::optional<bool> FakeAudioHardware::isAlive(AudioDeviceId id)
{
    if (enter(Step::isAlive))
        return std::nullopt;
    std::lock_guard lock(m_state->mutex);
    if (m_state->device(id))
        return true;
    return m_state->removed.count(id) ? std::optional(false) : std::nullopt;
}

std::optional<std::vector<AudioDeviceId>> FakeAudioHardware::activeAggregateSubdevices(AudioDeviceId id)
{
    if (enter(Step::aggregate))
        return std::nullopt;
    std::lock_guard lock(m_state->mutex);
    const Device *device = m_state->device(id);
    return device ? std::optional(device->aggregateMembers) : std::nullopt;
}

rt::Result<AudioHardware::ListenerID> FakeAudioHardware::addSystemListener(SystemProperty property, rt::Executor *queue,
                                                                           Listener listener)
{
    if (const auto status = enter(Step::addListener))
        return statusError(*status, "addSystemListener");
    std::lock_guard lock(m_state->mutex);
    const ListenerID id = m_state->nextListener++;
    m_state->listeners[id] = State::Listener{std::nullopt, property, std::nullopt, queue, std::move(listener)};
    return id;
}

rt::Result<AudioHardware::ListenerID> FakeAudioHardware::addDeviceListener(AudioDeviceId device,
                                                                           DeviceProperty property, rt::Executor *queue,
                                                                           Listener listener)
{
    if (const auto status = enter(Step::addListener))
        return statusError(*status, "addDeviceListener");
    std::lock_guard lock(m_state->mutex);
    if (!m_state->device(device))
        return statusError(-10851, "addDeviceListener (no such device)");
    const ListenerID id = m_state->nextListener++;
    m_state->listeners[id] = State::Listener{device, std::nullopt, property, queue, std::move(listener)};
    return id;
}

void FakeAudioHardware::removeListener(ListenerID listener)
{
    std::lock_guard lock(m_state->mutex);
    m_state->listeners.erase(listener);
}

rt::Result<std::unique_ptr<RecordStream>> FakeAudioHardware::makeRecordStream()
{
    if (const auto status = enter(Step::makeUnit))
        return statusError(*status, "makeRecordStream");
    return std::unique_ptr<RecordStream>(std::make_unique<FakeRecordStream>(*this, m_state));
}

} // namespace zq::test

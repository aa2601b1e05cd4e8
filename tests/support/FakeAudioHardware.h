#pragma once

#include "pipeline/InputTransport.h"
#include "platform/AudioHardware.h"
#include "support/FakeGate.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace zq::test {

class FakeRecordStream;

// Scriptable audio hardware: devices appear, vanish, go silent, report another route or change
// their rate; any step can fail or block. Thread-safe.
//
// Deviation from the interface contract, for determinism: listeners without a queue run on the
// thread that scripts the change (the test's "server" thread), after the change, outside the
// fake's lock. Audio flows only when the test calls deliver(), on the calling thread.
class FakeAudioHardware final : public platform::AudioHardware {
public:
    struct Device {
        Device() = default;
        Device(QString uid, QString name, std::optional<std::uint32_t> transport = transportType::builtIn,
               int inputChannels = 1)
            : uid(std::move(uid)), name(std::move(name)), inputChannels(inputChannels), transport(transport)
        {}

        QString uid;
        QString name;
        int inputChannels = 1;
        // A transport-type code; nullopt makes the read fail.
        std::optional<std::uint32_t> transport = transportType::builtIn;
        double nominalRate = 48000;
        // How long the rate has held, as a back-end told of each change would say; nullopt: it cannot tell.
        std::optional<rt::Nanos> nominalRateHeldFor;
        std::vector<platform::AudioDeviceId> aggregateMembers;
    };

    // Every call that can fail or block.
    enum class Step {
        devices,
        defaultInput,
        inputChannels,
        name,
        uid,
        transport,
        nominalRate,
        isAlive,
        aggregate,
        addListener,
        makeUnit,
        isIOEnabled,
        setIOEnabled,
        setCurrentDevice,
        currentDevice,
        inputFormat,
        setClientFormat,
        maximumFrames,
        setInputCallback,
        initialize,
        start,
        stop,
        uninitialize,
        render,
    };

    FakeAudioHardware();
    ~FakeAudioHardware() override;

    // Scripting. Each fires the listeners the change concerns.
    platform::AudioDeviceId addDevice(Device device);
    // The device vanishes: units bound to it stop delivering and report a configuration change.
    void removeDevice(platform::AudioDeviceId device);
    void setDefaultInput(platform::AudioDeviceId device); // 0: none
    void setNominalRate(platform::AudioDeviceId device, double rate);
    void setNominalRateHeldFor(platform::AudioDeviceId device, std::optional<rt::Nanos> held);
    // A silent device runs but delivers no cycles.
    void setSilent(platform::AudioDeviceId device, bool silent);
    // Units bound to `device` report `reported` as their current device (nullopt: the truth).
    void setReportedRoute(platform::AudioDeviceId device, std::optional<platform::AudioDeviceId> reported);
    void setMaximumFramesPerCycle(std::uint32_t frames);

    // The next `times` calls at `step` fail (reads give nullopt, operations the status); -1: always.
    void failAt(Step step, int status = -50, int times = -1);
    void clearFailures();
    // The next call at `step` waits at the returned gate.
    std::shared_ptr<FakeGate> blockAt(Step step);
    int callCount(Step step) const;

    // Runs one input cycle of `frames` frames of `value` on every running unit of a non-silent
    // device, on the calling thread. Returns how many units got it.
    int deliver(std::uint32_t frames, float value = 0.1f);
    int runningUnitCount() const;
    int liveUnitCount() const;
    std::size_t listenerCount() const;

    // AudioHardware
    std::optional<std::vector<platform::AudioDeviceId>> devices() override;
    std::optional<platform::AudioDeviceId> defaultInputDevice() override;
    std::optional<int> inputChannelCount(platform::AudioDeviceId device) override;
    std::optional<QString> stringProperty(platform::AudioDeviceId device, StringProperty property) override;
    std::optional<std::uint32_t> transportType(platform::AudioDeviceId device) override;
    std::optional<double> nominalSampleRate(platform::AudioDeviceId device) override;
    std::optional<rt::Nanos> nominalSampleRateHeldFor(platform::AudioDeviceId device) override;
    std::optional<bool> isAlive(platform::AudioDeviceId device) override;
    std::optional<std::vector<platform::AudioDeviceId>>
    activeAggregateSubdevices(platform::AudioDeviceId device) override;
    rt::Result<ListenerID> addSystemListener(SystemProperty property, rt::Executor *queue, Listener listener) override;
    rt::Result<ListenerID> addDeviceListener(platform::AudioDeviceId device, DeviceProperty property,
                                             rt::Executor *queue, Listener listener) override;
    void removeListener(ListenerID listener) override;
    rt::Result<std::unique_ptr<platform::RecordStream>> makeRecordStream() override;

private:
    friend class FakeRecordStream;
    struct State;
    // Counts the call, waits at a gate if one is set, and returns the failure status if it fails.
    std::optional<int> enter(Step step);
    void fire(const std::vector<std::pair<rt::Executor *, Listener>> &listeners);

    std::shared_ptr<State> m_state;
};

} // namespace zq::test

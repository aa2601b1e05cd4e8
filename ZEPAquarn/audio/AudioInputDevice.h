#pragma once

#include "pipeline/InputTransport.h"
#include "platform/AudioHardware.h"

#include <QString>

#include <optional>
#include <set>
#include <vector>

namespace zq {

// The input preference that follows the system's default input device.
inline const QString kSystemDefaultInputPreference = QStringLiteral("system-default");

// One audio input device as the pickers and the audio engine see it.
//
// Nothing is cached: every call reads the hardware afresh and may block on the audio server, so
// the capture side calls these on the HAL executor's queue (the device list is also read on the
// main thread). Nothing fails: an unreadable property counts as absent.
struct AudioInputDevice {
    platform::AudioDeviceId id = 0; // valid while the device is present
    QString uid;                    // persistent; what the input preference stores
    QString name;
    InputTransport transport = InputTransport::other;

    friend bool operator==(const AudioInputDevice &, const AudioInputDevice &) = default;

    // Every device with input channels, a readable name and a uid, in the hardware's order.
    static std::vector<AudioInputDevice> listInputDevices(platform::AudioHardware &hardware);
    // The device to capture from for a preference: the pinned device when listed, else the
    // default input (logging that the pinned one is missing); nullopt when neither exists.
    static std::optional<platform::AudioDeviceId> resolve(platform::AudioHardware &hardware, const QString &prefUID);

    // The property readers both capture cores use.
    static std::optional<platform::AudioDeviceId> systemDefaultInputDevice(platform::AudioHardware &hardware);
    static std::optional<QString> deviceStringProperty(platform::AudioHardware &hardware,
                                                       platform::AudioDeviceId device,
                                                       platform::AudioHardware::StringProperty property);
    // Only rates above 0.
    static std::optional<double> deviceNominalInputRate(platform::AudioHardware &hardware,
                                                        platform::AudioDeviceId device);
    // The non-zero active members of an aggregate; empty otherwise or when unreadable.
    static std::set<platform::AudioDeviceId> activeAggregateSubdevices(platform::AudioHardware &hardware,
                                                                       platform::AudioDeviceId device);
};

// Pure: the id of the first listed device whose uid is the preference, else the default.
std::optional<platform::AudioDeviceId> matchPreference(const QString &preference,
                                                       const std::vector<AudioInputDevice> &devices,
                                                       std::optional<platform::AudioDeviceId> systemDefault);

// The first built-in microphone other than `excluding`.
std::optional<AudioInputDevice> builtInFallbackDevice(platform::AudioHardware &hardware,
                                                      std::optional<platform::AudioDeviceId> excluding);

} // namespace zq

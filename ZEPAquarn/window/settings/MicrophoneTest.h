#pragma once

#include "runtime/Executor.h"
#include "runtime/Task.h"
#include "window/settings/SettingsPageText.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace zq {

class AudioEngine;

// The capture a microphone test runs on: a second audio engine, separate from dictation's.
class MicrophoneTestEngine {
public:
    virtual ~MicrophoneTestEngine() = default;

    // Starts a file-only take on the selected input, without the built-in rescue; throws the start's
    // error (its description is shown to the user).
    virtual rt::Task<void> start() = 0;
    // Input buffers delivered since the start.
    virtual std::int64_t tapFires() const = 0;
    // Ends the take and deletes its file; never fails.
    virtual void discardTake() = 0;
};

using MicrophoneTestEngineFactory = std::function<std::unique_ptr<MicrophoneTestEngine>()>;

// A MicrophoneTestEngine over a real AudioEngine of its own.
class AudioEngineMicrophoneTest final : public MicrophoneTestEngine {
public:
    explicit AudioEngineMicrophoneTest(std::unique_ptr<AudioEngine> engine);
    ~AudioEngineMicrophoneTest() override;

    rt::Task<void> start() override;
    std::int64_t tapFires() const override;
    void discardTake() override;

private:
    std::unique_ptr<AudioEngine> m_engine;
};

// The microphone test: start a take on a new engine, wait `listen` (2 s), count the buffers that
// arrived and discard the take. Gives "✓ Audio received", "✗ No audio received", or "✗ " and the
// start's (or the cancelled wait's) error. Nothing of the take is kept.
rt::Task<RowStatus> runMicrophoneTest(MicrophoneTestEngineFactory makeEngine, rt::Nanos listen = rt::seconds(2.0));

} // namespace zq

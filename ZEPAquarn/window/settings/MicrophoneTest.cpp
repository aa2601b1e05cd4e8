#include "window/settings/MicrophoneTest.h"

#include "audio/AudioEngine.h"

namespace zq {

AudioEngineMicrophoneTest::AudioEngineMicrophoneTest(std::unique_ptr<AudioEngine> engine) : m_engine(std::move(engine))
{}

AudioEngineMicrophoneTest::~AudioEngineMicrophoneTest() = default;

rt::Task<void> AudioEngineMicrophoneTest::start()
{
    // The test's intent is never withdrawn: the take is always wanted.
    (void)co_await m_engine->start(TakeMode::fileOnly, false, std::make_shared<TakeStartIntent>());
}

std::int64_t AudioEngineMicrophoneTest::tapFires() const
{
    return m_engine->tapFires();
}

void AudioEngineMicrophoneTest::discardTake()
{
    m_engine->discardTake();
}

rt::Task<RowStatus> runMicrophoneTest(MicrophoneTestEngineFactory makeEngine, rt::Nanos listen)
{
    const std::unique_ptr<MicrophoneTestEngine> engine = makeEngine();
    std::exception_ptr error;
    try {
        co_await engine->start();
    } catch (...) {
        error = std::current_exception();
    }
    if (error) {
        engine->discardTake();
        co_return RowStatus::failed(describeError(error));
    }
    try {
        co_await rt::sleepFor(listen);
    } catch (...) {
        error = std::current_exception();
    }
    if (error) {
        engine->discardTake();
        co_return RowStatus::failed(describeError(error));
    }
    const std::int64_t fires = engine->tapFires();
    engine->discardTake();
    co_return fires > 0 ? RowStatus::passed(QStringLiteral("Audio received"))
                        : RowStatus::failed(QStringLiteral("No audio received"));
}

} // namespace zq

#include "support/FakeMicrophoneTestEngine.h"

#include <stdexcept>

namespace zq::test {

rt::Task<void> FakeMicrophoneTestEngine::start()
{
    m_script->calls.append(QStringLiteral("start"));
    if (m_script->startError)
        throw std::runtime_error(m_script->startError->toStdString());
    m_started = true;
    co_return;
}

MicrophoneTestEngineFactory FakeMicrophoneTestEngine::factory(std::shared_ptr<Script> script)
{
    return [script] {
        ++script->made;
        return std::make_unique<FakeMicrophoneTestEngine>(script);
    };
}

} // namespace zq::test

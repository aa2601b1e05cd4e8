#pragma once

#include "window/settings/MicrophoneTest.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace zq::test {

// A scripted capture for the microphone test. The script is shared with every engine the factory
// makes, and so is the log of calls ("start", "discard").
class FakeMicrophoneTestEngine final : public MicrophoneTestEngine {
public:
    struct Script {
        std::optional<QString> startError; // the start throws with this description
        std::int64_t fires = 0;            // buffers delivered once started
        QStringList calls;
        int made = 0;
    };

    explicit FakeMicrophoneTestEngine(std::shared_ptr<Script> script) : m_script(std::move(script)) {}

    rt::Task<void> start() override;
    std::int64_t tapFires() const override { return m_started ? m_script->fires : 0; }
    void discardTake() override { m_script->calls.append(QStringLiteral("discard")); }

    static MicrophoneTestEngineFactory factory(std::shared_ptr<Script> script);

private:
    std::shared_ptr<Script> m_script;
    bool m_started = false;
};

} // namespace zq::test

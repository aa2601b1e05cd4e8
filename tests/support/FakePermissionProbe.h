#pragma once

#include "platform/PermissionProbe.h"

#include <functional>
#include <optional>
#include <vector>

namespace zq::test {

// Checks the test sets, and counts of what was asked. A microphone request is kept until the test
// answers it (answerMicrophone), on whatever thread the test likes.
class FakePermissionProbe final : public platform::PermissionProbe {
public:
    bool microphone = true;
    Check input{true, {}};
    Check accessibilityCheck{true, {}};
    std::optional<platform::KeyboardMap> keyboard = platform::KeyboardMap{};
    bool keyboardSettingsInstalled = true;
    // What openKeyboardSettings() and openKeyListeningSettings() report.
    bool opensSucceed = true;

    bool microphoneAvailable() override
    {
        ++checks;
        return microphone;
    }
    void requestMicrophone(std::function<void(bool heard)> completion) override;
    Check keyListening() override { return input; }
    void requestKeyListening() override { ++keyListeningRequests; }
    bool openKeyListeningSettings() override
    {
        ++inputSettingsOpened;
        return opensSucceed;
    }
    Check accessibility() override { return accessibilityCheck; }
    void requestAccessibility() override { ++accessibilityRequests; }
    std::optional<platform::KeyboardMap> keyboardMap() override { return keyboard; }
    bool canOpenKeyboardSettings() override { return keyboardSettingsInstalled; }
    bool openKeyboardSettings() override
    {
        ++keyboardSettingsOpened;
        return opensSucceed;
    }

    // Answers the oldest pending microphone request; false when none is pending.
    bool answerMicrophone(bool heard);
    std::size_t pendingMicrophoneRequests() const { return m_micRequests.size(); }

    // A keyboard map of unmapped keys, with or without an Fn key.
    static platform::KeyboardMap keyboardWithFn(bool hasFn);

    int checks = 0;
    int keyListeningRequests = 0;
    int inputSettingsOpened = 0;
    int accessibilityRequests = 0;
    int keyboardSettingsOpened = 0;

private:
    std::vector<std::function<void(bool)>> m_micRequests;
};

} // namespace zq::test

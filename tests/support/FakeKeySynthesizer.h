#pragma once

#include "platform/FrontWindow.h"
#include "platform/KeySynthesizer.h"
#include "platform/ScreenLock.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace zq::test {

// Records every paste chord, with what the clipboard held at that moment (through `clipboardText`),
// and holds scripted modifier keys.
class FakeKeySynthesizer final : public platform::KeySynthesizer {
public:
    explicit FakeKeySynthesizer(std::function<QString()> clipboardText = {}) : m_clipboardText(std::move(clipboardText))
    {}

    std::uint64_t heldModifiers() override { return m_heldModifiers; }
    bool postPasteChord(platform::PasteChord chord) override;

    void setHeldModifiers(std::uint64_t flags) { m_heldModifiers = flags; }
    int chordCount() const { return static_cast<int>(m_pasted.size()); }
    // The clipboard text at each chord, in order.
    const QStringList &pastedTexts() const { return m_pasted; }
    // The chords posted, in order.
    const std::vector<platform::PasteChord> &chords() const { return m_chords; }

private:
    std::function<QString()> m_clipboardText;
    std::uint64_t m_heldModifiers = 0;
    QStringList m_pasted;
    std::vector<platform::PasteChord> m_chords;
};

// The window in front, as the test sets it: its class, its client, and whether it answers pings (from
// the moment `answersPings` is set, also the ones already sent).
class FakeFrontWindow final : public platform::FrontWindow {
public:
    platform::WindowClass windowClass() override { return m_class; }
    std::uint32_t client() override { return m_client; }
    bool ping() override
    {
        ++m_pings;
        return m_takesPings;
    }
    bool pingAnswered() override { return m_takesPings && m_answersPings; }

    void setWindowClass(platform::WindowClass windowClass) { m_class = std::move(windowClass); }
    void setClient(std::uint32_t client) { m_client = client; }
    void setTakesPings(bool takesPings) { m_takesPings = takesPings; }
    void setAnswersPings(bool answersPings) { m_answersPings = answersPings; }
    int pings() const { return m_pings; }

private:
    platform::WindowClass m_class;
    std::uint32_t m_client = 0;
    bool m_takesPings = false;
    bool m_answersPings = false;
    int m_pings = 0;
};

// A screen lock that the test switches on and off.
class FakeScreenLock final : public platform::ScreenLock {
public:
    bool isLocked() override { return m_locked; }
    void setLocked(bool locked) { m_locked = locked; }

private:
    bool m_locked = false;
};

} // namespace zq::test

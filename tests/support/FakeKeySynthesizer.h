#pragma once

#include "platform/KeySynthesizer.h"
#include "platform/SecureInput.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace zq::test {

// Records every paste chord, with what the clipboard held at that moment (through `clipboardText`),
// and holds scripted modifier keys.
class FakeKeySynthesizer final : public platform::KeySynthesizer {
public:
    explicit FakeKeySynthesizer(std::function<QString()> clipboardText = {}) : m_clipboardText(std::move(clipboardText))
    {}

    std::uint64_t heldModifiers() override { return m_heldModifiers; }
    bool postPasteChord() override;

    void setHeldModifiers(std::uint64_t flags) { m_heldModifiers = flags; }
    int chordCount() const { return static_cast<int>(m_pasted.size()); }
    // The clipboard text at each chord, in order.
    const QStringList &pastedTexts() const { return m_pasted; }

private:
    std::function<QString()> m_clipboardText;
    std::uint64_t m_heldModifiers = 0;
    QStringList m_pasted;
};

// Secure input that the test switches on and off.
class FakeSecureInput final : public platform::SecureInput {
public:
    bool isSecureEventInputEnabled() override { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }

private:
    bool m_enabled = false;
};

} // namespace zq::test

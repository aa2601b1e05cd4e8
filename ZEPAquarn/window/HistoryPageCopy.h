#pragma once

#include "runtime/Executor.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <functional>
#include <optional>

namespace zq {

namespace platform {
class Pasteboard;
}

// Puts a transcript on the clipboard as plain text, replacing what was there. An absent or empty
// text gives false and leaves the clipboard alone. Shared by the History page and the tray panel's
// copy-latest button.
bool copyHistoryText(platform::Pasteboard &pasteboard, const std::optional<QString> &text);

// A date as the History page and the incident rows show it: the locale's abbreviated date (month
// name shortened, no weekday) and its short time, in the local time zone.
QString abbreviatedDateTime(const QDateTime &date, const QLocale &locale);

// The "Copied" confirmation of a copy button: shown for 1.2 s after each successful copy. Every copy
// schedules its own reset and no reset is ever cancelled, so a second copy within the 1.2 s is
// ended early by the first one's reset. Main thread; resets that fire after the confirmation is
// gone do nothing.
class CopyConfirmation {
public:
    static constexpr double kSeconds = 1.2;

    // `onChange` runs whenever the shown state flips.
    CopyConfirmation(rt::MainLoop &loop, std::function<void()> onChange = {});

    bool isShown() const { return m_shown; }
    void confirm();

private:
    void set(bool shown);

    rt::MainLoop &m_loop;
    std::function<void()> m_onChange;
    bool m_shown = false;
    rt::Lifetime m_lifetime;
};

} // namespace zq

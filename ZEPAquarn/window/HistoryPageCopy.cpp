#include "window/HistoryPageCopy.h"

#include "pipeline/DictationController.h"

#include <QRegularExpression>

#include <chrono>

namespace zq {

bool copyHistoryText(platform::Pasteboard &pasteboard, const std::optional<QString> &text)
{
    if (!text || text->isEmpty())
        return false;
    return DictationController::copyToPasteboard(pasteboard, *text);
}

QString abbreviatedDateTime(const QDateTime &date, const QLocale &locale)
{
    // The locale's long date without its weekday, with the month's short name: "Mar 2, 2026",
    // "2. März 2026". Qt has no abbreviated style of its own.
    QString pattern = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral("d{4}[,.]?\\s*|\\s*[,.]?\\s*d{4}"));
    pattern.remove(weekday);
    pattern.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    const QDateTime local = date.toLocalTime();
    return locale.toString(local.date(), pattern.trimmed()) + QStringLiteral(", ") +
           locale.toString(local.time(), QLocale::ShortFormat);
}

CopyConfirmation::CopyConfirmation(rt::MainLoop &loop, std::function<void()> onChange)
    : m_loop(loop), m_onChange(std::move(onChange))
{}

void CopyConfirmation::confirm()
{
    set(true);
    m_loop.postDelayed(std::chrono::duration_cast<rt::Nanos>(std::chrono::duration<double>(kSeconds)),
                       m_lifetime.guard([this] { set(false); }));
}

void CopyConfirmation::set(bool shown)
{
    if (m_shown == shown)
        return;
    m_shown = shown;
    if (m_onChange)
        m_onChange();
}

} // namespace zq

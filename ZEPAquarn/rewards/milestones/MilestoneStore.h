#pragma once

#include "runtime/RawValue.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <array>
#include <optional>
#include <set>

namespace zq::rt {
class Settings;
}

namespace zq {

// A one-time note of achievement in the tray panel. The order is the declaration order.
enum class Milestone { hundredTakes, tenThousandWordWeek };

// The stored "milestoneShown" entries.
constexpr std::array<RawValueName<Milestone>, 2> rawValueNames(Milestone)
{
    return {{{Milestone::hundredTakes, "hundredTakes"}, {Milestone::tenThousandWordWeek, "tenThousandWordWeek"}}};
}

// The candidate to show for the lifetime take count and this week's words, given what was shown:
// the word milestone first, then the takes milestone.
std::optional<Milestone> selectMilestone(qint64 totalTakes, qint64 weekWords, const std::set<Milestone> &shown);

// Which milestones were shown, when the last one was, and whether the user turned them off for
// good; over "milestoneShown", "milestoneLastShown" and "milestoneDismissed", written at every
// change so a store built anew reads the same state. Main thread only.
class MilestoneStore : public QObject {
    Q_OBJECT
public:
    // At most one milestone in this many seconds.
    static constexpr double kQuietPeriodSeconds = 2592000; // 30 days

    explicit MilestoneStore(rt::Settings &settings, QObject *parent = nullptr);

    bool dismissed() const { return m_dismissed; }
    const std::set<Milestone> &shown() const { return m_shown; }
    std::optional<QDateTime> lastShown() const { return m_lastShown; }

    // The milestone to show now, or none: not dismissed and outside the quiet period after the last
    // one (a last showing later than `now`, a clock set back, holds them back too).
    std::optional<Milestone> pending(qint64 totalTakes, qint64 weekWords, const QDateTime &now) const;
    void markShown(Milestone milestone, const QDateTime &date);
    // Hides milestone lines permanently.
    void dismissForever();

signals:
    void dismissedChanged();
    void shownChanged();

private:
    rt::Settings &m_settings;
    bool m_dismissed = false;
    std::set<Milestone> m_shown;
    std::optional<QDateTime> m_lastShown;
};

} // namespace zq

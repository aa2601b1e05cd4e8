#pragma once

#include "pipeline/Colorway.h"
#include "records/StatsWeekSelection.h"
#include "records/WeekSummary.h"
#include "rewards/motion/PillAnimationStyle.h"
#include "rewards/stats/LedgerExport.h"
#include "rewards/stats/StatsLedgerContent.h"
#include "runtime/Executor.h"

#include <QObject>

#include <optional>

namespace zq {

class MotionStore;
class StatsStore;

namespace rt {
class Settings;
}

// The statistics page without its widgets: the shown week and its paging, the week's figures and
// texts, the copy of the ledger card with its feedback label, and the typing baseline ("typingWPM").
// Main thread only.
class StatsPageModel : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 minimumTypingWPM = 25;
    static constexpr qint64 maximumTypingWPM = 80;
    static constexpr double copyFeedbackSeconds = 1.8;

    // Shows the week that contains `now` in the store's time zone.
    StatsPageModel(StatsStore &store, rt::Settings &settings, rt::MainLoop &loop, LedgerExporter exporter,
                   const QDateTime &now, QObject *parent = nullptr);

    // The page's figures, computed afresh from the store.
    struct Content {
        WeekSummary selected;
        WeekSummary previous; // the week before the selected one
        StatsOrbitComparison orbit;
        Colorway colorway;
    };
    Content content() const;
    StatsLedgerContent ledger(const QLocale &locale) const;
    StatsWeekNavigationContent navigation() const { return StatsWeekNavigationContent(m_selection); }
    const StatsWeekSelection &selection() const { return m_selection; }
    // Whether the selected week has takes: the full page and the copy button, else the empty state.
    bool hasTakes() const;

    Colorway colorway() const { return m_colorway; }
    void setColorway(Colorway colorway);
    const std::optional<QString> &inviteCode() const { return m_inviteCode; }
    void setInviteCode(const std::optional<QString> &code);

    void showPreviousWeek();
    void showNextWeek();

    qint64 typingWPM() const;
    // A slider position, rounded to the nearest whole number and kept within 25…80.
    void setTypingWPM(double position);

    const LedgerCopyFeedback &copyFeedback() const { return m_copyFeedback; }
    // Copies the selected week's card as a PNG image. "Copied PNG ✓" on success, turned back to
    // "Copy as image" 1.8 s after the newest copy; a failure shows "Copy as image" at once.
    bool copyLedger();

    // Lets the page announce listening animations that the lifetime reclaimed time unlocked.
    void setUnlockAnnouncements(MotionStore *motion) { m_motion = motion; }
    // The style whose unlock line shows, if any.
    const std::optional<PillAnimationStyle> &unlock() const { return m_unlock; }
    // When the page appears: asks the motion store for an unlock to announce, unless one shows.
    void announcePendingUnlock();
    // The page comes back on screen anew: the week that contains `now`, the copy label and no unlock
    // line, as when it was first shown. The copy count keeps growing.
    void restart(const QDateTime &now);
    // The unlock line was shown: it is not announced again.
    void markUnlockAnnounced();
    MotionStore *motion() const { return m_motion; }

signals:
    // Anything the page shows changed.
    void changed();

private:
    StatsStore &m_store;
    rt::Settings &m_settings;
    rt::MainLoop &m_loop;
    LedgerExporter m_exporter;
    StatsWeekSelection m_selection;
    Colorway m_colorway = Colorway::consensusMint;
    std::optional<QString> m_inviteCode;
    LedgerCopyFeedback m_copyFeedback{QStringLiteral("Copy as image"), 0};
    MotionStore *m_motion = nullptr;
    std::optional<PillAnimationStyle> m_unlock;
    rt::Lifetime m_lifetime;
};

} // namespace zq

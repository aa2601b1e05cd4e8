#include "rewards/stats/StatsPageModel.h"

#include "pipeline/SettingsDefaults.h"
#include "records/StatsStore.h"
#include "rewards/motion/MotionStore.h"
#include "runtime/Settings.h"

#include <algorithm>
#include <cmath>

namespace zq {

namespace {

const QString kCopyLabel = QStringLiteral("Copy as image");
const QString kCopiedLabel = QStringLiteral("Copied PNG \u2713");

} // namespace

StatsPageModel::StatsPageModel(StatsStore &store, rt::Settings &settings, rt::MainLoop &loop, LedgerExporter exporter,
                               const QDateTime &now, QObject *parent)
    : QObject(parent), m_store(store), m_settings(settings), m_loop(loop), m_exporter(std::move(exporter)),
      m_selection(StatsWeekSelection::containing(now, store.timeZone()))
{
    connect(&m_store, &StatsStore::daysChanged, this, &StatsPageModel::changed);
    connect(&m_settings, &rt::Settings::changed, this, [this](const QString &key) {
        if (key == keys::typingWPM)
            emit changed();
    });
}

StatsPageModel::Content StatsPageModel::content() const
{
    const WeekSummary selected = m_store.summary(m_selection.selectedWeek());
    const WeekSummary previous =
        m_store.summary(StatsWeekSelection::weekBefore(m_selection.selectedWeek(), m_selection.timeZone()));
    return {selected, previous, StatsOrbitComparison(selected, previous), m_colorway};
}

StatsLedgerContent StatsPageModel::ledger(const QLocale &locale) const
{
    return StatsLedgerContent(m_store.summary(m_selection.selectedWeek()), typingWPM(), locale, m_inviteCode);
}

bool StatsPageModel::hasTakes() const
{
    return m_store.summary(m_selection.selectedWeek()).takes != 0;
}

void StatsPageModel::setColorway(Colorway colorway)
{
    if (colorway == m_colorway)
        return;
    m_colorway = colorway;
    emit changed();
}

void StatsPageModel::setInviteCode(const std::optional<QString> &code)
{
    if (code == m_inviteCode)
        return;
    m_inviteCode = code;
    emit changed();
}

void StatsPageModel::showPreviousWeek()
{
    m_selection.previous();
    emit changed();
}

void StatsPageModel::showNextWeek()
{
    const StatsWeek before = m_selection.selectedWeek();
    m_selection.next();
    if (!(m_selection.selectedWeek() == before))
        emit changed();
}

qint64 StatsPageModel::typingWPM() const
{
    return m_settings.integerValue(keys::typingWPM);
}

void StatsPageModel::setTypingWPM(double position)
{
    if (std::isnan(position))
        return;
    const double clamped = std::clamp(position, double(minimumTypingWPM), double(maximumTypingWPM));
    m_settings.setValue(keys::typingWPM, static_cast<qint64>(std::round(clamped)));
}

bool StatsPageModel::copyLedger()
{
    const Content page = content();
    const bool copied =
        page.selected.takes != 0 && m_exporter.copy(page.selected, typingWPM(), m_inviteCode, page.colorway);
    const quint64 generation = m_copyFeedback.generation + 1;
    m_copyFeedback = {copied ? kCopiedLabel : kCopyLabel, generation};
    emit changed();
    if (copied) {
        m_loop.postDelayed(rt::seconds(copyFeedbackSeconds), m_lifetime.guard([this, generation] {
            if (m_copyFeedback.generation != generation)
                return;
            m_copyFeedback.label = kCopyLabel;
            emit changed();
        }));
    }
    return copied;
}

void StatsPageModel::announcePendingUnlock()
{
    if (!m_motion || m_unlock)
        return;
    m_unlock = m_motion->pendingUnlockAnnouncement(m_store.lifetimeReclaimed());
    if (m_unlock)
        emit changed();
}

void StatsPageModel::restart(const QDateTime &now)
{
    m_selection = StatsWeekSelection::containing(now, m_store.timeZone());
    m_copyFeedback.label = kCopyLabel;
    m_unlock.reset();
    emit changed();
}

void StatsPageModel::markUnlockAnnounced()
{
    if (m_motion && m_unlock)
        m_motion->markAnnounced(*m_unlock);
}

} // namespace zq

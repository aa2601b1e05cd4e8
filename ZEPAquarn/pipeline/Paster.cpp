#include "pipeline/Paster.h"

#include "platform/KeySynthesizer.h"
#include "platform/ScreenLock.h"
#include "runtime/Log.h"

#include <utility>

namespace zq {

Paster::Paster(platform::Pasteboard &pasteboard, platform::KeySynthesizer &keys, platform::ScreenLock &screenLock,
               rt::MainLoop &loop)
    : m_pasteboard(pasteboard), m_keys(keys), m_screenLock(screenLock), m_loop(loop)
{
    m_pasteboard.setOnFetch(m_lifetime.guard([this] { fetched(); }));
}

Paster::~Paster()
{
    m_pasteboard.setOnFetch({});
    if (m_pending)
        m_pending->work.cancel();
}

void Paster::prepare()
{
    m_prepared.reset();
    if (m_pending)
        return; // the clipboard holds an earlier paste's text: that paste carries the user's own
    // Counted first: a change while the contents are read makes the copy stale, never the count.
    const qint64 changeCount = m_pasteboard.changeCount();
    m_prepared = Prepared{m_pasteboard.items(), changeCount};
}

bool Paster::paste(const QString &text)
{
    std::optional<Prepared> prepared = std::exchange(m_prepared, std::nullopt);
    const bool secure = m_screenLock.isLocked();
    // The clipboard as the user had it before an earlier paste that has not been restored yet. Taking a
    // new snapshot now would capture that paste's text and lose the user's own clipboard for good.
    std::optional<Snapshot> carried;
    if (m_pending) {
        Pending earlier = std::move(*m_pending);
        m_pending.reset();
        earlier.work.cancel();
        if (!secure) {
            // That paste reported success: its chord goes out before its text is replaced.
            if (!earlier.chordPosted)
                m_keys.postPasteChord();
            if (m_pasteboard.changeCount() == earlier.changeCount)
                carried = std::move(earlier.snapshot);
        }
    }
    if (secure) {
        m_pasteboard.setString(text);
        qCInfo(lcPaste) << "paste: secure input is on, the text stays on the clipboard";
        return false;
    }

    Pending pending;
    if (carried)
        pending.snapshot = std::move(*carried);
    else if (prepared && prepared->changeCount == m_pasteboard.changeCount())
        pending.snapshot = std::move(prepared->snapshot);
    else
        pending.snapshot = m_pasteboard.items();
    m_pasteboard.setString(text);
    pending.changeCount = m_pasteboard.changeCount();
    pending.waitDeadline = m_loop.now() + modifierWaitLimit;
    m_pending = std::move(pending);
    waitForModifiers();
    return true;
}

void Paster::waitForModifiers()
{
    const bool held = m_keys.heldModifiers() != 0;
    if (!held || m_loop.now() >= m_pending->waitDeadline) {
        if (held)
            qCInfo(lcPaste) << "paste: modifier keys still held, posting the paste shortcut anyway";
        postChord();
        return;
    }
    m_pending->work = m_loop.postDelayed(modifierPollInterval, m_lifetime.guard([this] {
        if (m_pending && !m_pending->chordPosted)
            waitForModifiers();
    }));
}

void Paster::postChord()
{
    m_pending->fetchesBeforeChord = m_pasteboard.fetchCount();
    m_keys.postPasteChord();
    m_pending->chordPosted = true;
    // Counted from the chord, so the front window always has the full delay to fetch the text.
    m_pending->fetchDeadline = m_loop.now() + fetchWaitLimit;
    m_pending->work = m_loop.postDelayed(restoreDelay, m_lifetime.guard([this] { restoreOnceFetched(); }));
}

bool Paster::whenFetched(std::function<void()> then)
{
    if (!m_pending)
        return false;
    const std::optional<qint64> fetches = m_pasteboard.fetchCount();
    if (!fetches)
        return false;
    if (m_pending->chordPosted && m_pending->fetchesBeforeChord && *fetches != *m_pending->fetchesBeforeChord)
        return false;
    m_pending->onFetched = std::move(then);
    return true;
}

void Paster::fetched()
{
    // A fetch before the shortcut is somebody else's (a clipboard manager), not the paste's.
    if (!m_pending || !m_pending->chordPosted || !m_pending->onFetched)
        return;
    std::exchange(m_pending->onFetched, nullptr)();
}

void Paster::restoreOnceFetched()
{
    if (!m_pending)
        return;
    const std::optional<qint64> fetches = m_pasteboard.fetchCount();
    const bool unfetched = fetches && m_pending->fetchesBeforeChord && *fetches == *m_pending->fetchesBeforeChord;
    // A clipboard changed by somebody else is not restored anyway: no reason to wait.
    const bool ours = m_pasteboard.changeCount() == m_pending->changeCount;
    if (unfetched && ours && m_loop.now() < m_pending->fetchDeadline) {
        m_pending->work = m_loop.postDelayed(fetchPollInterval, m_lifetime.guard([this] { restoreOnceFetched(); }));
        return;
    }
    restore();
}

void Paster::restore()
{
    if (!m_pending)
        return;
    const Pending pending = std::move(*m_pending);
    m_pending.reset();
    if (m_pasteboard.changeCount() != pending.changeCount) {
        qCInfo(lcPaste) << "paste: the clipboard changed since the paste, nothing restored";
        return;
    }
    m_pasteboard.writeItems(pending.snapshot);
}

} // namespace zq

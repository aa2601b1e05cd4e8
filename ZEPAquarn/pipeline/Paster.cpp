#include "pipeline/Paster.h"

#include "pipeline/TriggerKey.h"
#include "platform/ScreenLock.h"
#include "runtime/Log.h"

#include <algorithm>
#include <array>
#include <utility>

namespace zq {

namespace {

using platform::PasteChord;

struct TerminalRow {
    const char *windowClass; // lower case; matches the instance or the class name of WM_CLASS
    Paster::Route route;
};

// Terminal emulators, where Control+V types a control character instead of pasting.
constexpr Paster::Route kClipboardShortcut{PasteChord::controlShiftV, false};
constexpr Paster::Route kPrimaryShortcut{PasteChord::shiftInsert, true};
constexpr std::array kTerminals{
    // Paste the primary selection with Shift+Insert, and have no default key for the clipboard.
    TerminalRow{"xterm", kPrimaryShortcut},
    TerminalRow{"uxterm", kPrimaryShortcut},
    TerminalRow{"urxvt", kPrimaryShortcut},
    TerminalRow{"rxvt", kPrimaryShortcut},
    TerminalRow{"rxvt-unicode", kPrimaryShortcut},
    // Paste the clipboard with Control+Shift+V.
    TerminalRow{"gnome-terminal", kClipboardShortcut},
    TerminalRow{"gnome-terminal-server", kClipboardShortcut},
    TerminalRow{"kgx", kClipboardShortcut},
    TerminalRow{"ptyxis", kClipboardShortcut},
    TerminalRow{"mate-terminal", kClipboardShortcut},
    TerminalRow{"xfce4-terminal", kClipboardShortcut},
    TerminalRow{"lxterminal", kClipboardShortcut},
    TerminalRow{"sakura", kClipboardShortcut},
    TerminalRow{"terminator", kClipboardShortcut},
    TerminalRow{"tilix", kClipboardShortcut},
    TerminalRow{"guake", kClipboardShortcut},
    TerminalRow{"tilda", kClipboardShortcut},
    TerminalRow{"roxterm", kClipboardShortcut},
    TerminalRow{"deepin-terminal", kClipboardShortcut},
    TerminalRow{"konsole", kClipboardShortcut},
    TerminalRow{"yakuake", kClipboardShortcut},
    TerminalRow{"qterminal", kClipboardShortcut},
    TerminalRow{"cool-retro-term", kClipboardShortcut},
    TerminalRow{"terminology", kClipboardShortcut},
    TerminalRow{"kitty", kClipboardShortcut},
    TerminalRow{"alacritty", kClipboardShortcut},
    TerminalRow{"org.wezfurlong.wezterm", kClipboardShortcut},
    TerminalRow{"wezterm", kClipboardShortcut},
    TerminalRow{"st", kClipboardShortcut},
    TerminalRow{"st-256color", kClipboardShortcut},
    TerminalRow{"foot", kClipboardShortcut},
    TerminalRow{"footclient", kClipboardShortcut},
    TerminalRow{"termite", kClipboardShortcut},
    TerminalRow{"contour", kClipboardShortcut},
    TerminalRow{"hyper", kClipboardShortcut},
    TerminalRow{"tabby", kClipboardShortcut},
};

// The modifiers the chord itself holds: the user holding one of them changes nothing.
std::uint64_t modifiersOf(PasteChord chord)
{
    switch (chord) {
    case PasteChord::controlV:
        return ModifierFlag::control;
    case PasteChord::controlShiftV:
        return ModifierFlag::control | ModifierFlag::shift;
    case PasteChord::shiftInsert:
        return ModifierFlag::shift;
    }
    return 0;
}

} // namespace

Paster::Paster(platform::Pasteboard &pasteboard, platform::KeySynthesizer &keys, platform::ScreenLock &screenLock,
               rt::MainLoop &loop)
    : Paster(pasteboard, keys, screenLock, loop, Options{})
{}

Paster::Paster(platform::Pasteboard &pasteboard, platform::KeySynthesizer &keys, platform::ScreenLock &screenLock,
               rt::MainLoop &loop, Options options)
    : m_pasteboard(pasteboard), m_keys(keys), m_screenLock(screenLock), m_loop(loop), m_primary(options.primary),
      m_frontWindow(options.frontWindow)
{
    m_pasteboard.setOnFetch(
        m_lifetime.guard([this](const platform::PasteboardFetch &fetch) { fetched(Source::clipboard, fetch); }));
    if (m_primary)
        m_primary->setOnFetch(
            m_lifetime.guard([this](const platform::PasteboardFetch &fetch) { fetched(Source::primary, fetch); }));
}

Paster::~Paster()
{
    m_pasteboard.setOnFetch({});
    if (m_primary)
        m_primary->setOnFetch({});
    if (m_pending)
        m_pending->work.cancel();
    m_holdCheck.cancel();
}

Paster::Route Paster::routeFor(const platform::WindowClass &windowClass)
{
    const QString instance = windowClass.instance.toLower();
    const QString name = windowClass.name.toLower();
    for (const TerminalRow &row : kTerminals) {
        const QLatin1String terminal(row.windowClass);
        if (instance == terminal || name == terminal)
            return row.route;
    }
    return {};
}

QString Paster::chordText(PasteChord chord)
{
    switch (chord) {
    case PasteChord::controlV:
        return QStringLiteral("Ctrl+V");
    case PasteChord::controlShiftV:
        return QStringLiteral("Ctrl+Shift+V");
    case PasteChord::shiftInsert:
        return QStringLiteral("Shift+Insert");
    }
    return {};
}

Paster::Route Paster::routeOf(const platform::WindowClass &windowClass) const
{
    const Route route = routeFor(windowClass);
    // Shift+Insert would paste whatever the primary selection holds, not the text.
    if (route.viaPrimary && !m_primary)
        return {};
    return route;
}

Paster::Route Paster::currentRoute()
{
    return routeOf(m_frontWindow ? m_frontWindow->windowClass() : platform::WindowClass{});
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
    if (m_screenLock.isLocked()) {
        m_prepared.reset();
        const Route route = currentRoute();
        m_lastChord = route.chord;
        // Nothing is posted while the screen is locked: the pastes still waiting for a fetch end here, and
        // their texts are replaced by this one.
        if (m_pending) {
            Pending earlier = std::move(*m_pending);
            m_pending.reset();
            earlier.work.cancel();
            giveUp(earlier, Leftover::replaced);
        }
        std::deque<Waiting> waiting = std::exchange(m_waiting, {});
        for (Waiting &next : waiting)
            tell(next.onFetched, next.told, Leftover::replaced);
        m_holdCheck.cancel();
        m_pasteboard.setString(text);
        // Where the user is told to paste it.
        if (route.viaPrimary)
            m_primary->setString(text);
        qCInfo(lcPaste) << "paste: secure input is on, the text stays on the clipboard";
        return false;
    }
    if (mustWait()) {
        qCInfo(lcPaste) << "paste: the window has not fetched the text before yet, this one waits its turn";
        m_waiting.push_back({text, {}, m_loop.now() + fetchWaitLimit});
        if (!m_pending)
            startWaiting();
        return true;
    }
    start(text, {}, false);
    return true;
}

bool Paster::canTell()
{
    return m_pasteboard.fetchCount().has_value();
}

bool Paster::replaced(const Pending &pending)
{
    return m_pasteboard.changeCount() != pending.changeCount &&
           !stillHolds(m_pasteboard, pending.changeCount, pending.text);
}

bool Paster::mustWait()
{
    if (!m_waiting.empty() || heldBack())
        return true;
    if (!m_pending)
        return false;
    // A clipboard that cannot tell, a text already fetched, or one somebody else replaced (the window gets
    // theirs, whatever comes next): waiting would show nothing. A text a clipboard manager took over may
    // still be on its way to a window that has not handled its shortcut yet: it waits for the ping.
    return canTell() && !m_pending->fetched && !replaced(*m_pending);
}

void Paster::start(const QString &text, std::function<void()> onFetched, bool told)
{
    std::optional<Prepared> prepared = std::exchange(m_prepared, std::nullopt);
    // The chord and the client whose fetch settles the paste, of one window.
    const platform::FrontWindow::Identity front =
        m_frontWindow ? m_frontWindow->identity() : platform::FrontWindow::Identity{};
    const Route route = routeOf(front.windowClass);
    m_lastChord = route.chord;
    // The clipboard as the user had it before an earlier paste that has not been restored yet. Taking a
    // new snapshot now would capture that paste's text and lose the user's own clipboard for good.
    std::optional<Snapshot> carried;
    std::optional<Snapshot> carriedPrimary;
    if (m_pending) {
        Pending earlier = std::move(*m_pending);
        m_pending.reset();
        earlier.work.cancel();
        // That paste reported success: its chord goes out before its text is replaced.
        if (!earlier.chordPosted)
            m_keys.postPasteChord(earlier.route.chord);
        if (stillHolds(m_pasteboard, earlier.changeCount, earlier.text))
            carried = std::move(earlier.snapshot);
        if (route.viaPrimary && earlier.primarySnapshot &&
            stillHolds(*m_primary, earlier.primaryChangeCount, earlier.text))
            carriedPrimary = std::move(earlier.primarySnapshot);
        else
            restorePrimary(earlier); // this paste leaves the primary selection alone
        // Fetched already, or nothing more can be known of it (the clipboard cannot tell); or somebody else
        // replaced the text, and the window takes theirs.
        if (canTell() && !earlier.fetched)
            giveUp(earlier, Leftover::replaced);
        else if (earlier.onFetched)
            earlier.onFetched();
    }

    Pending pending;
    pending.route = route;
    pending.text = text;
    pending.client = front.client;
    pending.onFetched = std::move(onFetched);
    pending.told = told;
    if (carried)
        pending.snapshot = std::move(*carried);
    else if (prepared && prepared->changeCount == m_pasteboard.changeCount())
        pending.snapshot = std::move(prepared->snapshot);
    else
        pending.snapshot = m_pasteboard.items();
    m_pasteboard.setString(text);
    pending.changeCount = m_pasteboard.changeCount();
    if (route.viaPrimary) {
        pending.primarySnapshot = carriedPrimary ? std::move(*carriedPrimary) : m_primary->items();
        m_primary->setString(text);
        pending.primaryChangeCount = m_primary->changeCount();
    }
    pending.waitDeadline = m_loop.now() + modifierWaitLimit;
    m_pending = std::move(pending);
    waitForModifiers();
}

bool Paster::heldBack()
{
    if (!m_unanswered)
        return false;
    if (m_frontWindow && m_frontWindow->client() == *m_unanswered)
        return true;
    // The user moved on to another window: the shortcut left in the old one is its own affair, and the
    // pastes already told as given up do not follow the user there.
    m_unanswered.reset();
    std::erase_if(m_waiting, [](const Waiting &waiting) { return waiting.told; });
    return false;
}

void Paster::startWaiting()
{
    m_holdCheck.cancel();
    while (!m_pending && !m_waiting.empty()) {
        if (m_screenLock.isLocked()) {
            Waiting next = std::move(m_waiting.front());
            m_waiting.pop_front();
            // Locked meanwhile: the text is left where the user can paste it by hand, the last one winning.
            const Route route = currentRoute();
            m_lastChord = route.chord;
            m_pasteboard.setString(next.text);
            if (route.viaPrimary)
                m_primary->setString(next.text);
            qCInfo(lcPaste) << "paste: secure input came on while the text waited, it stays on the clipboard";
            tell(next.onFetched, next.told, m_waiting.empty() ? Leftover::onClipboard : Leftover::replaced);
            continue;
        }
        if (heldBack()) {
            // The window would fetch this text for the shortcut it still owes: it stays out of the clipboard.
            for (Waiting &next : m_waiting) {
                if (m_loop.now() >= next.holdDeadline && !next.told) {
                    qCInfo(lcPaste) << "paste: the window in front still owes an earlier paste, this one is held";
                    tell(next.onFetched, next.told, Leftover::replaced);
                }
            }
            m_holdCheck = m_loop.postDelayed(fetchPollInterval, m_lifetime.guard([this] { startWaiting(); }));
            return;
        }
        if (m_waiting.empty())
            return; // all told already, and the window they were for is no longer in front
        Waiting next = std::move(m_waiting.front());
        m_waiting.pop_front();
        start(next.text, std::move(next.onFetched), next.told);
    }
}

void Paster::tell(const std::function<void()> &onFetched, bool &told, Leftover leftover)
{
    if (!onFetched || std::exchange(told, true))
        return;
    if (m_onNotFetched)
        m_onNotFetched(leftover);
}

void Paster::giveUp(Pending &pending, Leftover leftover)
{
    tell(pending.onFetched, pending.told, leftover);
}

void Paster::waitForModifiers()
{
    const bool held = (m_keys.heldModifiers() & ~modifiersOf(m_pending->route.chord)) != 0;
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
    m_keys.postPasteChord(m_pending->route.chord);
    m_pending->chordPosted = true;
    // After the keys: the answer tells that the window has handled them.
    m_pending->pinged = m_frontWindow && m_frontWindow->ping();
    // Counted from the chord, so the front window always has the full delay to fetch the text.
    m_pending->fetchDeadline = m_loop.now() + fetchWaitLimit;
    m_pending->work = m_loop.postDelayed(restoreDelay, m_lifetime.guard([this] { restoreOnceFetched(); }));
}

bool Paster::whenFetched(std::function<void()> then)
{
    if (!m_waiting.empty()) {
        m_waiting.back().onFetched = std::move(then);
        return true;
    }
    if (!m_pending || !canTell() || m_pending->fetched)
        return false;
    m_pending->onFetched = std::move(then);
    return true;
}

void Paster::fetched(Source source, const platform::PasteboardFetch &fetch)
{
    // A window that fetches anything is awake again: it has handled the shortcut it owed.
    if (m_unanswered && fetch.client == *m_unanswered) {
        m_unanswered.reset();
        if (!m_pending && !m_waiting.empty()) {
            m_holdCheck.cancel();
            m_holdCheck = m_loop.postDelayed(rt::Nanos(0), m_lifetime.guard([this] { startWaiting(); }));
        }
    }
    if (m_pending && m_pending->chordPosted && !m_pending->fetched && isFetchOf(*m_pending, source, fetch)) {
        m_pending->fetched = true;
        if (m_pending->onFetched)
            std::exchange(m_pending->onFetched, nullptr)();
        return;
    }
    // A text given up for want of a fetch, taken after all: it is in the window, and the clipboard from
    // before it comes back as from any fetched paste.
    const auto late = std::find_if(m_givenUp.begin(), m_givenUp.end(),
                                   [&](const Pending &givenUp) { return isFetchOf(givenUp, source, fetch); });
    if (late == m_givenUp.end())
        return;
    Pending givenUp = std::move(*late);
    m_givenUp.erase(late);
    qCInfo(lcPaste) << "paste: the window fetched a text given up before";
    restorePrimary(givenUp);
    if (!m_pending && m_pasteboard.changeCount() == givenUp.changeCount)
        m_pasteboard.writeItems(givenUp.snapshot);
    if (givenUp.onFetched)
        givenUp.onFetched();
}

bool Paster::isFetchOf(const Pending &pending, Source source, const platform::PasteboardFetch &fetch)
{
    // Only the window in front pastes; anybody else (a clipboard history tool) only reads.
    if (pending.client != 0 && fetch.client != pending.client)
        return false;
    if (source == Source::clipboard)
        return fetch.changeCount == pending.changeCount;
    return pending.primarySnapshot && fetch.changeCount == pending.primaryChangeCount;
}

void Paster::restoreOnceFetched()
{
    if (!m_pending)
        return;
    Pending &pending = *m_pending;
    if (!canTell() || pending.fetched) {
        restore();
        return;
    }
    if (replaced(pending)) {
        // The window gets whatever replaced the text: it is not the user's to have back from us.
        qCInfo(lcPaste) << "paste: the clipboard was replaced before the window fetched the text";
        notFetched(Leftover::replaced);
        return;
    }
    const bool expired = m_loop.now() >= pending.fetchDeadline;
    if (m_pasteboard.changeCount() != pending.changeCount) {
        // A clipboard manager took the text over and serves the window itself, out of sight. The clipboard
        // from before goes back once the window has handled its shortcut: it answered the ping, or, when it
        // takes none, the limit has passed.
        if (pending.pinged ? m_frontWindow->pingAnswered() : expired) {
            restore();
            return;
        }
    }
    if (!expired)
        pending.work = m_loop.postDelayed(fetchPollInterval, m_lifetime.guard([this] { restoreOnceFetched(); }));
    else
        notFetched(Leftover::onClipboard);
}

void Paster::notFetched(Leftover leftover)
{
    Pending pending = std::move(*m_pending);
    m_pending.reset();
    // A window still busy with the shortcut would fetch whatever the clipboard holds when it wakes: nothing
    // more goes to it. One that answered the ping is awake and simply took no text.
    if (pending.client != 0 && !(pending.pinged && m_frontWindow->pingAnswered()))
        m_unanswered = pending.client;
    if (leftover == Leftover::onClipboard) {
        // Putting the old contents back would lose the text: the window never took it.
        qCInfo(lcPaste) << "paste: the window in front never fetched the text, it stays on the clipboard";
        // Replaced at once by the next paste, unless the window holds that back.
        if (!m_waiting.empty() && !heldBack())
            leftover = Leftover::replaced;
        constexpr std::size_t kGivenUpKept = 8;
        if (m_givenUp.size() == kGivenUpKept)
            m_givenUp.pop_front();
        tell(pending.onFetched, pending.told, leftover);
        // Kept for a fetch that comes after all: whenFetched()'s callback settles it then.
        m_givenUp.push_back(std::move(pending));
    } else {
        restorePrimary(pending);
        giveUp(pending, leftover);
    }
    startWaiting();
}

void Paster::restore()
{
    if (!m_pending)
        return;
    Pending pending = std::move(*m_pending);
    m_pending.reset();
    restorePrimary(pending);
    if (!stillHolds(m_pasteboard, pending.changeCount, pending.text))
        qCInfo(lcPaste) << "paste: the clipboard changed since the paste, nothing restored";
    else
        m_pasteboard.writeItems(pending.snapshot);
    // Fetched, or nothing more can be known: the clipboard cannot tell, or a clipboard manager served it.
    if (pending.onFetched)
        pending.onFetched();
    startWaiting();
}

void Paster::restorePrimary(const Pending &pending)
{
    // A selection made since (the user selected text) is the newer one and stays.
    if (pending.primarySnapshot && stillHolds(*m_primary, pending.primaryChangeCount, pending.text))
        m_primary->writeItems(*pending.primarySnapshot);
}

bool Paster::stillHolds(platform::Pasteboard &pasteboard, qint64 changeCount, const QString &text)
{
    if (pasteboard.changeCount() == changeCount)
        return true;
    // A clipboard manager that took the text over offers it as its own; anything else is somebody's copy.
    const std::vector<platform::PasteboardItem> items = pasteboard.items();
    if (items.size() != 1)
        return false;
    for (const auto &[type, bytes] : items.front()) {
        if (type == QLatin1String("text/plain"))
            return QString::fromUtf8(bytes) == text;
    }
    return false;
}

void Paster::handOverAtQuit()
{
    m_holdCheck.cancel();
    m_givenUp.clear();
    // Their texts are in the history; posting them now would paste into whatever the quit leaves in front.
    if (!m_waiting.empty()) {
        qCInfo(lcPaste) << "paste: quitting," << m_waiting.size() << "paste(s) waiting their turn dropped";
        m_waiting.clear();
    }
    if (m_pending) {
        m_pending->work.cancel();
        // Nothing more will be known of the paste: whoever waits for it settles it as it goes.
        m_pending->onFetched = nullptr;
        qCInfo(lcPaste) << "paste: quitting before the restore, the clipboard from before goes back now";
        restore();
    }
    if (m_pasteboard.handToManager(managerWaitLimit))
        qCInfo(lcPaste) << "paste: the clipboard manager keeps the clipboard";
    // No manager keeps the primary selection; the terminals that paste it read the cut buffer instead.
    if (m_primary)
        m_primary->leaveInCutBuffer();
}

} // namespace zq

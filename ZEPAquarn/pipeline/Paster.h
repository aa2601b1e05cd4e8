#pragma once

#include "platform/FrontWindow.h"
#include "platform/KeySynthesizer.h"
#include "platform/Pasteboard.h"
#include "runtime/Executor.h"

#include <QString>

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace zq {

namespace platform {
class ScreenLock;
} // namespace platform

// Inserts a finished transcript at the cursor of the window in front: puts the text on the clipboard,
// posts the paste shortcut, and 0.6 s later puts back what the clipboard held before, unless somebody
// else changed the clipboard meanwhile. The shortcut follows the window in front (terminals paste with
// other keys); for the terminals that paste the primary selection, the text is offered there too and the
// primary selection is given back like the clipboard. Where the clipboard tells when it was fetched (on
// X11 the front window asks this process for the text), the restore also waits for a fetch after the
// shortcut, up to 5 s: a window slowed by a loaded machine would otherwise paste the previous contents
// instead. Only a fetch by the window in front (the same client of the display) of this very text counts:
// clipboard history tools read every new clipboard, and the previous contents, maybe a password, must never
// reach the window in place of the text. A text that nobody fetched by then stays on the clipboard, since the
// window never took it, and the not-fetched callback says so; a fetch of it that comes later still settles
// it. A paste made while the text before it still waits for that fetch waits its turn: the window's earlier
// shortcut would otherwise fetch the newer text, and the earlier text would be lost to it. For the same
// reason, after a window let its shortcut go unanswered, no further shortcut goes to it until it fetches,
// answers a ping or loses the focus; a paste held back longer than the limit is told as given up, its text
// left out of the clipboard, and still goes out in its turn if the window wakes. Pastes end in the order
// they were made. While secure input is on (the screen is locked) the text is only left on the clipboard
// and the paste reports that it was blocked. A clipboard manager that takes each new clipboard over (it
// becomes the owner, offering the same text) serves the window out of sight: the clipboard from before goes
// back only once the window has answered a ping sent after the shortcut, or after the limit when it takes
// no pings; unanswered by the limit, the text stays. A clipboard somebody else replaced before the fetch
// is theirs: the paste is given up.
//
// Main thread only. The application keeps one for the life of the process.
class Paster {
public:
    using Snapshot = std::vector<platform::PasteboardItem>;

    // How a paste reaches a window: the shortcut, and whether it pastes the primary selection.
    struct Route {
        platform::PasteChord chord = platform::PasteChord::controlV;
        bool viaPrimary = false;

        friend bool operator==(const Route &, const Route &) = default;
    };

    // Services a paste can do without: with no front window every paste is Control+V; with no primary
    // selection the terminals that paste it get Control+V too.
    struct Options {
        platform::Pasteboard *primary = nullptr;
        platform::FrontWindow *frontWindow = nullptr;
    };

    static constexpr rt::Nanos restoreDelay = std::chrono::milliseconds(600);
    // Modifier keys still held would turn Control+V into another shortcut: the chord waits for them to be
    // let go, checking this often, and is posted anyway once the limit has passed.
    static constexpr rt::Nanos modifierPollInterval = std::chrono::milliseconds(20);
    static constexpr rt::Nanos modifierWaitLimit = std::chrono::seconds(1);
    // A restore that finds the text not yet fetched checks again this often, until the limit (counted
    // from the shortcut) has passed: a window that never fetches (no text field in front) still gets the
    // previous contents back.
    static constexpr rt::Nanos fetchPollInterval = std::chrono::milliseconds(20);
    static constexpr rt::Nanos fetchWaitLimit = std::chrono::seconds(5);

    // Where the text of a paste that nobody fetched is left: on the clipboard, where lastChord() pastes
    // it, or nowhere (replaced by another paste or a copy, or never put there): only in the history.
    enum class Leftover {
        onClipboard,
        replaced,
    };

    Paster(platform::Pasteboard &pasteboard, platform::KeySynthesizer &keys, platform::ScreenLock &screenLock,
           rt::MainLoop &loop);
    Paster(platform::Pasteboard &pasteboard, platform::KeySynthesizer &keys, platform::ScreenLock &screenLock,
           rt::MainLoop &loop, Options options);
    ~Paster();
    Paster(const Paster &) = delete;
    Paster &operator=(const Paster &) = delete;

    // True when the text is on the clipboard, the paste shortcut is posted (or waits for held modifier
    // keys to be let go, or for the fetch of the paste before) and the restore is on its way; false when
    // secure input is on and the text was only placed on the clipboard, which gives up the pastes still
    // waiting for a fetch (through the not-fetched callback). True does not confirm that the front
    // window took the paste.
    bool paste(const QString &text);

    // Reads the clipboard ahead of a paste expected soon (while the take is transcribed): reading waits
    // for the application that owns it, which the paste then no longer does. The paste uses this copy
    // only while the clipboard has not changed since; a paste whose earlier restore is still to run keeps
    // carrying the user's clipboard instead.
    void prepare();
    // Drops the copy read ahead: the take ended without a paste.
    void forgetPrepared() { m_prepared.reset(); }

    // The route for a window of `windowClass`: Control+V but for the terminal emulators of one table.
    static Route routeFor(const platform::WindowClass &windowClass);
    // The chord as a notice names it: "Ctrl+V", "Ctrl+Shift+V", "Shift+Insert".
    static QString chordText(platform::PasteChord chord);
    // The chord of the latest paste (also of one refused for secure input); Control+V before any.
    platform::PasteChord lastChord() const { return m_lastChord; }

    // Runs `then` on the loop once the latest paste is through, and returns true: the front window
    // fetched its text after the shortcut, or it answered a ping after a clipboard manager took the text
    // over. Returns false, leaving `then` alone, when no paste is under way, its text was already fetched,
    // or the clipboard cannot tell. A paste that nobody fetched reports through the not-fetched callback
    // instead, and a quit drops it; `then` still runs when the window fetches the given-up text later.
    bool whenFetched(std::function<void()> then);
    // Called when the wait for a fetch ended without one: the window in front never asked for the text,
    // or somebody replaced it on the clipboard first. Also for a paste held back from a window that left an
    // earlier shortcut unanswered, and for each paste that a paste refused for secure input gives up.
    // Says where the text is left. One callback at a time: a new one replaces the last.
    void setOnNotFetched(std::function<void(Leftover)> onNotFetched) { m_onNotFetched = std::move(onNotFetched); }

    // Whether a restore (or a paste shortcut waiting for modifiers or for its turn) is still to run.
    bool hasPendingWork() const { return m_pending.has_value() || !m_waiting.empty(); }

    // For the quit, while the main loop still runs: a paste whose restore is still to run (its window
    // slow or frozen) puts the user's clipboard and primary selection back now, since nobody would later,
    // and the pastes waiting their turn are dropped, without telling the callbacks; then the clipboard goes to the
    // desktop's clipboard manager, where one runs, and the text of a primary selection this process holds to the
    // display's cut buffer, so that both outlive the process.
    void handOverAtQuit();

    // How long the quit waits for a clipboard manager to take the clipboard.
    static constexpr std::chrono::milliseconds managerWaitLimit{1500};

private:
    struct Pending {
        Route route;
        QString text;
        Snapshot snapshot;
        qint64 changeCount = 0;
        // The primary selection as it was, where the route offers the text there.
        std::optional<Snapshot> primarySnapshot;
        qint64 primaryChangeCount = 0;
        // The client of the window in front; 0 when it cannot be told, and any fetch counts.
        std::uint32_t client = 0;
        bool chordPosted = false;
        bool fetched = false;
        // Told as given up already: a later fetch still settles it, nothing else tells it again.
        bool told = false;
        // A ping went to the window after the shortcut.
        bool pinged = false;
        rt::Nanos waitDeadline{0};
        rt::Nanos fetchDeadline{0};
        rt::WorkItem work;
        std::function<void()> onFetched;
    };

    // A paste waiting for the one on the clipboard to be fetched or given up.
    struct Waiting {
        QString text;
        std::function<void()> onFetched;
        // Told as given up when still held back from an unanswering window by then; it still goes out
        // once that window wakes, and is dropped once another window is in front.
        rt::Nanos holdDeadline{0};
        bool told = false;
    };

    enum class Source {
        clipboard,
        primary,
    };

    struct Prepared {
        Snapshot snapshot;
        qint64 changeCount = 0;
    };

    // The chord for a window of `windowClass` on this desktop.
    Route routeOf(const platform::WindowClass &windowClass) const;
    Route currentRoute();
    // Whether a new paste must wait: the text on the clipboard has not been fetched yet, and it would be
    // fetched in its stead.
    bool mustWait();
    // Puts `text` on the clipboard and posts the shortcut (Pending), carrying the user's clipboard over
    // from a paste still pending.
    void start(const QString &text, std::function<void()> onFetched, bool told);
    // Starts the oldest waiting paste once the clipboard is free of the one before and no window that
    // left its shortcut unanswered is in front.
    void startWaiting();
    // Whether the window in front still owes an answer to an earlier shortcut; forgets one that is no
    // longer in front.
    bool heldBack();
    // Tells whoever waits for `pending`'s fetch that none will come.
    void giveUp(Pending &pending, Leftover leftover);
    // Tells the not-fetched callback once for a paste that awaits its fetch; keeps `onFetched` for a
    // fetch that comes later.
    void tell(const std::function<void()> &onFetched, bool &told, Leftover leftover);
    // Whether the clipboard tells its fetches.
    bool canTell();
    // Whether somebody else replaced the text with contents of their own.
    bool replaced(const Pending &pending);
    // Whether `fetch`, of `source`, took the text of `pending` for its window.
    static bool isFetchOf(const Pending &pending, Source source, const platform::PasteboardFetch &fetch);
    void waitForModifiers();
    void postChord();
    void restoreOnceFetched();
    void restore();
    void restorePrimary(const Pending &pending);
    // Whether `pasteboard` still holds the text of a paste that left it at `changeCount`.
    static bool stillHolds(platform::Pasteboard &pasteboard, qint64 changeCount, const QString &text);
    void notFetched(Leftover leftover);
    void fetched(Source source, const platform::PasteboardFetch &fetch);

    platform::Pasteboard &m_pasteboard;
    platform::KeySynthesizer &m_keys;
    platform::ScreenLock &m_screenLock;
    rt::MainLoop &m_loop;
    platform::Pasteboard *m_primary;
    platform::FrontWindow *m_frontWindow;
    platform::PasteChord m_lastChord = platform::PasteChord::controlV;
    std::function<void(Leftover)> m_onNotFetched;
    // The paste whose restore has not run yet; at most one.
    std::optional<Pending> m_pending;
    // Pastes made while m_pending's text waited for its fetch, oldest first.
    std::deque<Waiting> m_waiting;
    // Pastes given up with their text left on the clipboard, which the window may still fetch; oldest
    // first, a few.
    std::deque<Pending> m_givenUp;
    // The client whose window let a shortcut go unanswered, while it has not fetched or answered since.
    std::optional<std::uint32_t> m_unanswered;
    // The next look at a window that holds pastes back.
    rt::WorkItem m_holdCheck;
    std::optional<Prepared> m_prepared;
    rt::Lifetime m_lifetime;
};

} // namespace zq

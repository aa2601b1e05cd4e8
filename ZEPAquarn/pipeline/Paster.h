#pragma once

#include "platform/Pasteboard.h"
#include "runtime/Executor.h"

#include <QString>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

namespace zq {

namespace platform {
class KeySynthesizer;
class ScreenLock;
} // namespace platform

// Inserts a finished transcript at the cursor of the window in front: puts the text on the clipboard,
// posts the paste shortcut, and 0.6 s later puts back what the clipboard held before, unless somebody
// else changed the clipboard meanwhile. Where the clipboard tells when it was fetched (on X11 the front
// window asks this process for the text), the restore also waits for a fetch after the shortcut, up to
// 5 s: a window slowed by a loaded machine would otherwise paste the previous contents instead. While secure input is
// on (the screen is locked) the text is only left on the clipboard and the paste reports that it was blocked.
//
// Main thread only. The application keeps one for the life of the process.
class Paster {
public:
    using Snapshot = std::vector<platform::PasteboardItem>;

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

    Paster(platform::Pasteboard &pasteboard, platform::KeySynthesizer &keys, platform::ScreenLock &screenLock,
           rt::MainLoop &loop);
    ~Paster();
    Paster(const Paster &) = delete;
    Paster &operator=(const Paster &) = delete;

    // True when the text is on the clipboard, the paste shortcut is posted (or waits for held modifier
    // keys to be let go) and the restore is on its way; false when secure input is on and the text was
    // only placed on the clipboard. True does not confirm that the front window took the paste.
    bool paste(const QString &text);

    // Reads the clipboard ahead of a paste expected soon (while the take is transcribed): reading waits
    // for the application that owns it, which the paste then no longer does. The paste uses this copy
    // only while the clipboard has not changed since; a paste whose earlier restore is still to run keeps
    // carrying the user's clipboard instead.
    void prepare();
    // Drops the copy read ahead: the take ended without a paste.
    void forgetPrepared() { m_prepared.reset(); }

    // Runs `then` on the loop once the front window has fetched the text of the current paste after its
    // shortcut, and returns true. Returns false, leaving `then` alone, when no paste is under way, its
    // text was already fetched, or the clipboard cannot tell. A newer paste or the restore drops it.
    bool whenFetched(std::function<void()> then);

    // Whether a restore (or a paste shortcut waiting for modifiers) is still to run.
    bool hasPendingWork() const { return m_pending.has_value(); }

private:
    struct Pending {
        Snapshot snapshot;
        qint64 changeCount = 0;
        bool chordPosted = false;
        rt::Nanos waitDeadline{0};
        std::optional<qint64> fetchesBeforeChord;
        rt::Nanos fetchDeadline{0};
        rt::WorkItem work;
        std::function<void()> onFetched;
    };

    struct Prepared {
        Snapshot snapshot;
        qint64 changeCount = 0;
    };

    void waitForModifiers();
    void postChord();
    void restoreOnceFetched();
    void restore();
    void fetched();

    platform::Pasteboard &m_pasteboard;
    platform::KeySynthesizer &m_keys;
    platform::ScreenLock &m_screenLock;
    rt::MainLoop &m_loop;
    // The paste whose restore has not run yet; at most one.
    std::optional<Pending> m_pending;
    std::optional<Prepared> m_prepared;
    rt::Lifetime m_lifetime;
};

} // namespace zq

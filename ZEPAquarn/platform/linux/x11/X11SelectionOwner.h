#pragma once

#include <QByteArray>
#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

struct xcb_connection_t;

namespace zq::platform {

// Offers a text in an X selection (CLIPBOARD or PRIMARY) from a window of its own, on a connection and
// a thread of their own: as UTF8_STRING, text/plain;charset=utf-8 and TEXT, and also as STRING when the
// text is Latin-1; TIMESTAMP tells the time it was owned from, as the selection protocol asks. A
// window that pastes asks the owner for its list of types, looks up the names it does not know, then
// asks for the text: Qt's clipboard offers eight types, and a Qt window asks the server the name of
// five of them one by one before it asks for the text. Answered off the main thread, a paste also does
// not wait for whatever the main loop does at that moment.
//
// A text larger than the server takes in one request is refused (own() is false): it needs the
// incremental transfer, which Qt's clipboard does.
//
// own() and the accessors are for the main thread; the callback runs there too.
class X11SelectionOwner {
public:
    // Nothing when the display cannot be reached. `fetched` runs on the main thread after each answered
    // request for the text (not for the list of types or the time, which are no fetch), with the client
    // that asked (the resource base of its window) and the tag of the text it got.
    using Fetched = std::function<void(std::uint32_t client, qint64 tag)>;
    static std::unique_ptr<X11SelectionOwner> open(const QByteArray &displayName, const char *selection,
                                                   Fetched fetched);
    ~X11SelectionOwner();
    X11SelectionOwner(const X11SelectionOwner &) = delete;
    X11SelectionOwner &operator=(const X11SelectionOwner &) = delete;

    // Takes the selection with `utf8` at the server time `time` (a real one: TIMESTAMP answers it), with
    // `tag` told for each fetch of this text; true once the server names this window as its owner. False
    // for a text too large, a broken connection, or a time older than the selection's last change (the
    // server keeps the owner it has).
    bool own(const QByteArray &utf8, std::uint32_t time, qint64 tag);
    // The window that owns the selection after own() was true.
    std::uint32_t window() const { return m_window; }
    // The text of the last own().
    QByteArray text() const;
    // Requests for the text answered so far.
    qint64 fetchCount() const { return m_fetches.load(); }

private:
    struct Atoms {
        std::uint32_t selection = 0;
        std::uint32_t targets = 0;
        std::uint32_t utf8 = 0;
        std::uint32_t timestamp = 0;
        std::uint32_t text = 0;
        std::uint32_t plainUtf8 = 0; // text/plain;charset=utf-8
    };

    X11SelectionOwner(xcb_connection_t *connection, std::uint32_t window, Atoms atoms, Fetched fetched);
    void run();
    void answer(const void *request);

    xcb_connection_t *const m_connection;
    const std::uint32_t m_window;
    const Atoms m_atoms;
    const std::size_t m_largestText;
    const Fetched m_fetched;
    const std::uint32_t m_clientMask; // the resource id bits that are not the client's
    QObject m_context;                // the callback's, on the main thread
    mutable std::mutex m_mutex;
    QByteArray m_utf8;           // guarded by m_mutex
    QByteArray m_latin1;         // guarded by m_mutex
    bool m_isLatin1 = false;     // guarded by m_mutex
    std::uint32_t m_ownedAt = 0; // guarded by m_mutex
    qint64 m_tag = 0;            // guarded by m_mutex
    std::atomic<qint64> m_fetches{0};
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

} // namespace zq::platform

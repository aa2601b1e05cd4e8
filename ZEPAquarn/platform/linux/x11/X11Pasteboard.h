#pragma once

#include "platform/Pasteboard.h"

#include <QByteArray>
#include <QObject>

#include <memory>
#include <optional>

class QMimeData;

namespace zq::platform {

class X11Connection;
class X11SelectionOwner;

// The clipboard through QClipboard (its CLIPBOARD selection, or the PRIMARY selection that the old X
// terminals paste with Shift+Insert and every X application with the middle button), with a change
// counter of our own: the
// display server keeps none. Our own writes count one change each; a change by another client counts
// when Qt reports it, or at the latest when changeCount() finds that the selection has a different owner
// than right after our last write (asked of the X server directly, so a copy made just before a read is
// not missed). Without X11 (Qt on Wayland, offscreen) only Qt's reports count. Counting starts with the
// first read or write: making one touches neither the clipboard nor the display.
//
// Main thread only; needs the QGuiApplication. While this process owns the clipboard, other applications
// fetch its contents through the main loop, which must keep running. Their fetches are counted as Qt
// receives them, from the first write on; a request for the list of types alone is no fetch. The
// clipboard goes to a clipboard manager by the desktop's protocol for it: a request to the owner of the
// CLIPBOARD_MANAGER selection to save every type, answered once the manager has read them from us. That
// protocol keeps the clipboard only: the primary selection's text is left in CUT_BUFFER0 instead, in
// Latin-1 (STRING) as xterm writes it there, or as UTF8_STRING when it does not fit.
//
// A text set with setString() is offered from a window of our own (X11SelectionOwner), in the types
// windows paste, and answered off the main thread; fetches of it count as Qt's do. Items, and a text
// too large for it, go through Qt. Each fetch is told with the client that asked and the change count
// of what it got.
class X11Pasteboard final : public Pasteboard {
public:
    enum class Selection {
        clipboard,
        primary,
    };

    explicit X11Pasteboard(Selection selection = Selection::clipboard, QByteArray displayName = qgetenv("DISPLAY"));
    ~X11Pasteboard() override;

    std::vector<PasteboardItem> items() override;
    void setString(const QString &text) override;
    void writeItems(const std::vector<PasteboardItem> &items) override;
    qint64 changeCount() override;
    std::optional<qint64> fetchCount() override;
    void setOnFetch(std::function<void(const PasteboardFetch &)> onFetch) override;
    bool handToManager(std::chrono::milliseconds limit) override;
    bool leaveInCutBuffer() override;

private:
    class QtEvents;

    // Follows Qt's reports of the clipboard from the first use on.
    void watchChanges();
    void write(QMimeData *data);
    // Our connection, opened again after it broke; null without an X11 display.
    X11Connection *openConnection();
    // The window owning the selection (0 for none); nothing when it cannot be asked.
    std::optional<unsigned long> selectionOwner();
    // Whether this process still holds what it last wrote to the selection.
    bool holdsLastWrite();
    // The owner of our texts, made at the first use on an X11 display; null elsewhere.
    X11SelectionOwner *textOwner();
    // Whether our own window holds the selection: what it offers is its text.
    bool textOwnerHolds();
    void fetched(const PasteboardFetch &fetch);

    QObject m_context;
    Selection m_selection;
    QByteArray m_displayName;
    std::unique_ptr<X11Connection> m_connection;
    bool m_watching = false;
    qint64 m_changeCount = 0;
    bool m_writing = false;
    bool m_written = false; // fetches are told from the first write on
    std::optional<unsigned long> m_ownerAfterWrite;
    std::unique_ptr<X11SelectionOwner> m_textOwner;
    bool m_textOwnerTried = false;
    std::unique_ptr<QtEvents> m_qtEvents; // from the first use on the X11 display
    std::function<void(const PasteboardFetch &)> m_onFetch;
};

} // namespace zq::platform

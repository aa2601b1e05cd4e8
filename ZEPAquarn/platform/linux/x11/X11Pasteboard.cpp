#include "platform/linux/x11/X11Pasteboard.h"

#include "platform/linux/x11/X11Connection.h"
#include "platform/linux/x11/X11SelectionOwner.h"
#include "runtime/Log.h"

#include <QAbstractNativeEventFilter>
#include <QClipboard>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMimeData>
#include <QSocketNotifier>
#include <QTimer>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <xcb/xproto.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace zq::platform {

// Follows the events Qt handles, from the first use on. It counts the requests for the clipboard's data
// that reach this process while Qt answers them: the filter sees each one before Qt's clipboard serves
// it in the same turn of the loop, so whatever runs after on the loop comes after the answer. And it
// keeps the newest server time among the events Qt takes its own time from (selection and property
// events, the selection notices of the XFIXES extension): Qt writes the selection at the newest time it
// has seen, which is never older than this one.
class X11Pasteboard::QtEvents final : public QAbstractNativeEventFilter {
public:
    QtEvents(X11Connection &connection, const char *selection, std::function<void(std::uint32_t client)> fetched)
        : m_connection(connection), m_fetched(std::move(fetched))
    {
        Display *display = connection.display();
        std::array<char *, 3> names{const_cast<char *>(selection), const_cast<char *>("TARGETS"),
                                    const_cast<char *>("TIMESTAMP")};
        std::array<Atom, 3> atoms{};
        if (XInternAtoms(display, names.data(), int(names.size()), False, atoms.data())) {
            m_selection = atoms[0];
            m_types = atoms[1];
            m_timestamp = atoms[2];
        }
        int opcode = 0;
        int firstError = 0;
        if (!XQueryExtension(display, "XFIXES", &opcode, &m_xfixesFirstEvent, &firstError))
            m_xfixesFirstEvent = -1;
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~QtEvents() override
    {
        if (QCoreApplication::instance())
            QCoreApplication::instance()->removeNativeEventFilter(this);
    }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (eventType != "xcb_generic_event_t" || m_selection == 0)
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        const int type = event->response_type & 0x7f;
        if (type == XCB_SELECTION_REQUEST) {
            const auto *request = static_cast<const xcb_selection_request_event_t *>(message);
            seen(request->time);
            if (request->selection == m_selection && request->target != m_types && request->target != m_timestamp) {
                ++m_count;
                // Queued: it runs once Qt has sent the answer the requester waits for.
                QMetaObject::invokeMethod(
                    &m_context, [this, client = m_connection.clientOf(request->requestor)] { m_fetched(client); },
                    Qt::QueuedConnection);
            }
        } else if (type == XCB_SELECTION_CLEAR) {
            seen(static_cast<const xcb_selection_clear_event_t *>(message)->time);
        } else if (type == XCB_SELECTION_NOTIFY) {
            seen(static_cast<const xcb_selection_notify_event_t *>(message)->time);
        } else if (type == XCB_PROPERTY_NOTIFY) {
            seen(static_cast<const xcb_property_notify_event_t *>(message)->time);
        } else if (type == m_xfixesFirstEvent) {
            // The selection notice: its own time after the type, sequence, window, owner and selection.
            std::uint32_t time = 0;
            std::memcpy(&time, static_cast<const char *>(message) + 16, sizeof time);
            seen(time);
        }
        return false; // Qt handles it
    }

    qint64 count() const { return m_count; }
    // The newest server time Qt has seen; 0 before any.
    std::uint32_t serverTime() const { return m_serverTime; }

private:
    // As Qt compares them: the server's milliseconds wrap around.
    void seen(std::uint32_t time)
    {
        if (time != 0 && (m_serverTime == 0 || std::int32_t(time - m_serverTime) > 0))
            m_serverTime = time;
    }

    Atom m_selection = 0;
    Atom m_types = 0;
    Atom m_timestamp = 0;
    int m_xfixesFirstEvent = -1;
    qint64 m_count = 0;
    std::uint32_t m_serverTime = 0;
    X11Connection &m_connection;
    std::function<void(std::uint32_t client)> m_fetched;
    QObject m_context;
};

namespace {

QClipboard::Mode modeOf(X11Pasteboard::Selection selection)
{
    return selection == X11Pasteboard::Selection::primary ? QClipboard::Selection : QClipboard::Clipboard;
}

const char *atomNameOf(X11Pasteboard::Selection selection)
{
    return selection == X11Pasteboard::Selection::primary ? "PRIMARY" : "CLIPBOARD";
}

// The text of items that hold nothing but one plain text, as Qt reads it (UTF-8); nothing otherwise.
std::optional<QString> onlyText(const std::vector<PasteboardItem> &items)
{
    if (items.size() != 1 || items.front().size() != 1 || items.front().front().first != QLatin1String("text/plain"))
        return std::nullopt;
    return QString::fromUtf8(items.front().front().second);
}

} // namespace

X11Pasteboard::X11Pasteboard(Selection selection, QByteArray displayName)
    : m_selection(selection), m_displayName(std::move(displayName))
{}

X11Pasteboard::~X11Pasteboard() = default;

void X11Pasteboard::watchChanges()
{
    if (m_watching)
        return;
    m_watching = true;
    if (X11Connection *connection = openConnection())
        m_qtEvents = std::make_unique<QtEvents>(*connection, atomNameOf(m_selection), [this](std::uint32_t client) {
            // Qt serves what it holds: our last write.
            fetched({client, m_changeCount});
        });
    textOwner();
    QObject::connect(QGuiApplication::clipboard(), &QClipboard::changed, &m_context, [this](QClipboard::Mode mode) {
        if (mode != modeOf(m_selection) || m_writing)
            return;
        // Qt also reports our own window taking the selection over from it.
        if (textOwnerHolds())
            return;
        ++m_changeCount;
        // Somebody else wrote: from now on, their changes are only known through Qt's reports.
        m_ownerAfterWrite.reset();
    });
}

std::vector<PasteboardItem> X11Pasteboard::items()
{
    watchChanges();
    // Read here: through Qt, our own read would count as a window's fetch.
    if (textOwnerHolds()) {
        const QByteArray text = m_textOwner->text();
        PasteboardItem item;
        if (!text.isEmpty())
            item.emplace_back(QStringLiteral("text/plain"), text);
        return {std::move(item)};
    }
    const QMimeData *data = QGuiApplication::clipboard()->mimeData(modeOf(m_selection));
    if (!data)
        return {};
    const QStringList formats = data->formats();
    if (formats.isEmpty())
        return {};
    PasteboardItem item;
    for (const QString &format : formats) {
        QByteArray bytes = data->data(format);
        if (!bytes.isEmpty())
            item.emplace_back(format, std::move(bytes));
    }
    return {std::move(item)};
}

void X11Pasteboard::setString(const QString &text)
{
    watchChanges();
    // At a time Qt has seen, so that Qt's next write, at the newest time it has seen, can take the
    // selection back; without one, Qt writes it.
    const std::uint32_t time = m_qtEvents ? m_qtEvents->serverTime() : 0;
    if (X11SelectionOwner *owner = textOwner();
        owner && time != 0 && owner->own(text.toUtf8(), time, m_changeCount + 1)) {
        ++m_changeCount;
        m_written = true;
        m_ownerAfterWrite = owner->window();
        return;
    }
    auto *data = new QMimeData;
    data->setText(text);
    write(data);
}

void X11Pasteboard::writeItems(const std::vector<PasteboardItem> &items)
{
    // A text alone is offered as setString() offers it, off the main thread. Qt's clipboard answers on the
    // main thread, in one write to the server per request: a large text that many windows pull at once
    // keeps the main loop in those writes for as long as they pull.
    if (const std::optional<QString> text = onlyText(items)) {
        setString(*text);
        return;
    }
    // The X11 clipboard holds a single item. Staying the owner with nothing to offer, rather than giving
    // the selection up, keeps the emptying from coming back later as somebody else's change.
    auto *data = new QMimeData;
    for (const PasteboardItem &item : items) {
        for (const auto &[type, bytes] : item) {
            if (!data->hasFormat(type))
                data->setData(type, bytes);
        }
    }
    write(data);
}

void X11Pasteboard::write(QMimeData *data)
{
    watchChanges();
    m_writing = true;
    QGuiApplication::clipboard()->setMimeData(data, modeOf(m_selection));
    m_writing = false;
    ++m_changeCount;
    m_written = true;
    m_ownerAfterWrite = selectionOwner();
}

void X11Pasteboard::fetched(const PasteboardFetch &fetch)
{
    if (m_onFetch)
        m_onFetch(fetch);
}

X11SelectionOwner *X11Pasteboard::textOwner()
{
    if (!m_textOwnerTried && QGuiApplication::platformName() == QLatin1String("xcb") && !m_displayName.isEmpty()) {
        m_textOwnerTried = true;
        m_textOwner =
            X11SelectionOwner::open(m_displayName, atomNameOf(m_selection), [this](std::uint32_t client, qint64 tag) {
                fetched({client, tag});
            });
        if (!m_textOwner)
            qCDebug(lcPaste) << "paste: no window of our own for the text, Qt's clipboard offers it";
    }
    return m_textOwner.get();
}

bool X11Pasteboard::textOwnerHolds()
{
    return m_textOwner && m_ownerAfterWrite == m_textOwner->window() && holdsLastWrite();
}

void X11Pasteboard::setOnFetch(std::function<void(const PasteboardFetch &)> onFetch)
{
    m_onFetch = std::move(onFetch);
}

std::optional<qint64> X11Pasteboard::fetchCount()
{
    if (!m_qtEvents || !m_written)
        return std::nullopt;
    return m_qtEvents->count() + (m_textOwner ? m_textOwner->fetchCount() : 0);
}

bool X11Pasteboard::handToManager(std::chrono::milliseconds limit)
{
    // Managers keep the clipboard only; and only what this process holds goes with it.
    if (m_selection != Selection::clipboard || !holdsLastWrite())
        return false;
    Display *display = m_connection->display();
    const Atom manager = XInternAtom(display, "CLIPBOARD_MANAGER", False);
    if (XGetSelectionOwner(display, manager) == None) {
        qCInfo(lcPaste) << "paste: no clipboard manager runs, the clipboard empties as the application quits";
        return false;
    }
    const Atom saveTargets = XInternAtom(display, "SAVE_TARGETS", False);
    const Atom property = XInternAtom(display, "ZQ_SAVE_TARGETS", False);
    const Window requestor = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    // No list of types on the window: the manager keeps every type.
    XConvertSelection(display, manager, saveTargets, property, requestor, CurrentTime);
    XFlush(display);

    // The manager reads the contents from Qt's connection while this loop runs, then answers on ours.
    std::optional<bool> kept;
    QEventLoop wait;
    const auto readAnswer = [&] {
        XEvent event;
        while (!m_connection->isBroken() && XCheckTypedWindowEvent(display, requestor, SelectionNotify, &event)) {
            if (event.xselection.selection == manager)
                kept = event.xselection.property != None;
        }
        if (kept || m_connection->isBroken())
            wait.quit();
    };
    QSocketNotifier answers(m_connection->fileDescriptor(), QSocketNotifier::Read);
    QObject::connect(&answers, &QSocketNotifier::activated, &wait, readAnswer);
    QTimer::singleShot(limit, &wait, &QEventLoop::quit);
    readAnswer();
    if (!kept && !m_connection->isBroken())
        wait.exec(QEventLoop::ExcludeUserInputEvents);
    // A manager that waits for the requestor to go before it takes the clipboard over takes it now.
    XDestroyWindow(display, requestor);
    XFlush(display);
    if (!kept)
        qCInfo(lcPaste) << "paste: the clipboard manager did not answer in time, the clipboard may empty at quit";
    else if (!*kept)
        qCInfo(lcPaste) << "paste: the clipboard manager refused the clipboard, it empties at quit";
    return kept.value_or(false);
}

bool X11Pasteboard::leaveInCutBuffer()
{
    if (m_selection != Selection::primary || !holdsLastWrite())
        return false;
    QString text;
    // Held, as asked above: by our own window, or by Qt's.
    if (m_textOwner && m_ownerAfterWrite == m_textOwner->window()) {
        text = QString::fromUtf8(m_textOwner->text());
    } else {
        // Held here, so Qt answers from its own copy without asking the server.
        const QMimeData *data = QGuiApplication::clipboard()->mimeData(modeOf(m_selection));
        if (data && data->hasText())
            text = data->text();
    }
    if (text.isEmpty())
        return false;
    Display *display = m_connection->display();
    // The terminals read the cut buffer as Latin-1 unless it says otherwise.
    const bool latin1 = std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() <= 0xFF; });
    const QByteArray bytes = latin1 ? text.toLatin1() : text.toUtf8();
    const Atom type = latin1 ? XA_STRING : XInternAtom(display, "UTF8_STRING", False);
    XChangeProperty(display, DefaultRootWindow(display), XA_CUT_BUFFER0, type, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(bytes.constData()), int(bytes.size()));
    XSync(display, False);
    if (m_connection->isBroken())
        return false;
    qCInfo(lcPaste) << "paste: the primary selection is left in the cut buffer, which outlives the application";
    return true;
}

bool X11Pasteboard::holdsLastWrite()
{
    if (!m_ownerAfterWrite)
        return false;
    const std::optional<unsigned long> owner = selectionOwner();
    return owner && *owner == *m_ownerAfterWrite;
}

qint64 X11Pasteboard::changeCount()
{
    watchChanges();
    if (m_ownerAfterWrite) {
        const std::optional<unsigned long> owner = selectionOwner();
        if (owner && *owner != *m_ownerAfterWrite) {
            ++m_changeCount;
            m_ownerAfterWrite.reset();
        }
    }
    return m_changeCount;
}

X11Connection *X11Pasteboard::openConnection()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb") || m_displayName.isEmpty())
        return nullptr;
    if (!m_connection || m_connection->isBroken()) {
        QString why;
        m_connection = X11Connection::open(m_displayName, &why);
        if (!m_connection)
            qCDebug(lcPaste) << "paste: cannot ask the X server for the clipboard owner:" << why;
    }
    return m_connection.get();
}

std::optional<unsigned long> X11Pasteboard::selectionOwner()
{
    if (!openConnection())
        return std::nullopt;
    Display *display = m_connection->display();
    const Atom selection = XInternAtom(display, atomNameOf(m_selection), False);
    const Window owner = XGetSelectionOwner(display, selection);
    if (m_connection->isBroken())
        return std::nullopt;
    return owner;
}

} // namespace zq::platform

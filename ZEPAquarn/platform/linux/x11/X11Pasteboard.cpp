#include "platform/linux/x11/X11Pasteboard.h"

#include "platform/linux/x11/X11Connection.h"
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

namespace zq::platform {

// Counts the requests for the clipboard's data that reach this process while Qt answers them: the
// filter sees each one before Qt's clipboard serves it in the same turn of the loop, so whatever runs
// after on the loop comes after the answer.
class X11Pasteboard::FetchCounter final : public QAbstractNativeEventFilter {
public:
    FetchCounter(Display *display, const char *selection, std::function<void()> fetched) : m_fetched(std::move(fetched))
    {
        std::array<char *, 3> names{const_cast<char *>(selection), const_cast<char *>("TARGETS"),
                                    const_cast<char *>("TIMESTAMP")};
        std::array<Atom, 3> atoms{};
        if (XInternAtoms(display, names.data(), int(names.size()), False, atoms.data())) {
            m_selection = atoms[0];
            m_types = atoms[1];
            m_timestamp = atoms[2];
        }
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~FetchCounter() override
    {
        if (QCoreApplication::instance())
            QCoreApplication::instance()->removeNativeEventFilter(this);
    }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (eventType != "xcb_generic_event_t" || m_selection == 0)
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7f) != XCB_SELECTION_REQUEST)
            return false;
        const auto *request = static_cast<const xcb_selection_request_event_t *>(message);
        if (request->selection == m_selection && request->target != m_types && request->target != m_timestamp) {
            ++m_count;
            // Queued: it runs once Qt has sent the answer the requester waits for.
            QMetaObject::invokeMethod(&m_context, m_fetched, Qt::QueuedConnection);
        }
        return false; // Qt answers it
    }

    qint64 count() const { return m_count; }

private:
    Atom m_selection = 0;
    Atom m_types = 0;
    Atom m_timestamp = 0;
    qint64 m_count = 0;
    std::function<void()> m_fetched;
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
    QObject::connect(QGuiApplication::clipboard(), &QClipboard::changed, &m_context, [this](QClipboard::Mode mode) {
        if (mode != modeOf(m_selection) || m_writing)
            return;
        ++m_changeCount;
        // Somebody else wrote: from now on, their changes are only known through Qt's reports.
        m_ownerAfterWrite.reset();
    });
}

std::vector<PasteboardItem> X11Pasteboard::items()
{
    watchChanges();
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
    auto *data = new QMimeData;
    data->setText(text);
    write(data);
}

void X11Pasteboard::writeItems(const std::vector<PasteboardItem> &items)
{
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
    m_ownerAfterWrite = selectionOwner();
    // The connection exists once the owner was asked: the atoms the counter needs come from it.
    if (!m_fetches && m_ownerAfterWrite)
        m_fetches = std::make_unique<FetchCounter>(m_connection->display(), atomNameOf(m_selection), [this] {
            if (m_onFetch)
                m_onFetch();
        });
}

void X11Pasteboard::setOnFetch(std::function<void()> onFetch)
{
    m_onFetch = std::move(onFetch);
}

std::optional<qint64> X11Pasteboard::fetchCount()
{
    if (!m_fetches)
        return std::nullopt;
    return m_fetches->count();
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
    // Held here, so Qt answers from its own copy without asking the server.
    const QMimeData *data = QGuiApplication::clipboard()->mimeData(modeOf(m_selection));
    if (!data || !data->hasText() || data->text().isEmpty())
        return false;
    const QString text = data->text();
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

std::optional<unsigned long> X11Pasteboard::selectionOwner()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb") || m_displayName.isEmpty())
        return std::nullopt;
    if (!m_connection || m_connection->isBroken()) {
        QString why;
        m_connection = X11Connection::open(m_displayName, &why);
        if (!m_connection) {
            qCDebug(lcPaste) << "paste: cannot ask the X server for the clipboard owner:" << why;
            return std::nullopt;
        }
    }
    Display *display = m_connection->display();
    const Atom selection = XInternAtom(display, atomNameOf(m_selection), False);
    const Window owner = XGetSelectionOwner(display, selection);
    if (m_connection->isBroken())
        return std::nullopt;
    return owner;
}

} // namespace zq::platform

#include "platform/linux/X11Pasteboard.h"

#include "platform/linux/X11Connection.h"
#include "runtime/Log.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <X11/Xlib.h>

namespace zq::platform {

X11Pasteboard::X11Pasteboard(QByteArray displayName) : m_displayName(std::move(displayName))
{
    QObject::connect(QGuiApplication::clipboard(), &QClipboard::changed, &m_context, [this](QClipboard::Mode mode) {
        if (mode != QClipboard::Clipboard || m_writing)
            return;
        ++m_changeCount;
        // Somebody else wrote: from now on, their changes are only known through Qt's reports.
        m_ownerAfterWrite.reset();
    });
}

X11Pasteboard::~X11Pasteboard() = default;

std::vector<PasteboardItem> X11Pasteboard::items()
{
    const QMimeData *data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
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
    m_writing = true;
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
    m_writing = false;
    ++m_changeCount;
    m_ownerAfterWrite = selectionOwner();
}

qint64 X11Pasteboard::changeCount()
{
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
    const Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
    const Window owner = XGetSelectionOwner(display, clipboard);
    if (m_connection->isBroken())
        return std::nullopt;
    return owner;
}

} // namespace zq::platform

#include "platform/linux/x11/X11SelectionOwner.h"

#include <QString>

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <pthread.h>

namespace zq::platform {

namespace {

struct FreeReply {
    void operator()(void *reply) const { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

std::uint32_t internAtom(xcb_connection_t *connection, const char *name)
{
    const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::uint16_t(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

} // namespace

std::unique_ptr<X11SelectionOwner> X11SelectionOwner::open(const QByteArray &displayName, const char *selection,
                                                           Fetched fetched)
{
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(displayName.constData(), &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    Atoms atoms{internAtom(connection, selection),     internAtom(connection, "TARGETS"),
                internAtom(connection, "UTF8_STRING"), internAtom(connection, "TIMESTAMP"),
                internAtom(connection, "TEXT"),        internAtom(connection, "text/plain;charset=utf-8")};
    const std::array names{atoms.selection, atoms.targets, atoms.utf8, atoms.timestamp, atoms.text, atoms.plainUtf8};
    if (screens.rem == 0 || std::find(names.begin(), names.end(), XCB_ATOM_NONE) != names.end()) {
        xcb_disconnect(connection);
        return nullptr;
    }
    const xcb_window_t window = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screens.data->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_flush(connection);
    return std::unique_ptr<X11SelectionOwner>(new X11SelectionOwner(connection, window, atoms, std::move(fetched)));
}

X11SelectionOwner::X11SelectionOwner(xcb_connection_t *connection, std::uint32_t window, Atoms atoms, Fetched fetched)
    : m_connection(connection), m_window(window), m_atoms(atoms),
      // The text goes in one ChangeProperty request, whose header takes 24 bytes.
      m_largestText(std::size_t(xcb_get_maximum_request_length(connection)) * 4 - 24), m_fetched(std::move(fetched)),
      m_clientMask(xcb_get_setup(connection)->resource_id_mask)
{
    m_thread = std::thread([this] { run(); });
}

X11SelectionOwner::~X11SelectionOwner()
{
    m_stopping.store(true);
    // An event to our own window wakes the thread from its wait; a broken connection wakes it anyway.
    xcb_client_message_event_t wake{};
    wake.response_type = XCB_CLIENT_MESSAGE;
    wake.format = 32;
    wake.window = m_window;
    wake.type = m_atoms.targets;
    xcb_send_event(m_connection, 0, m_window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&wake));
    xcb_flush(m_connection);
    m_thread.join();
    xcb_disconnect(m_connection);
}

bool X11SelectionOwner::own(const QByteArray &utf8, std::uint32_t time, qint64 tag)
{
    if (std::size_t(utf8.size()) > m_largestText || xcb_connection_has_error(m_connection))
        return false;
    {
        const QString text = QString::fromUtf8(utf8);
        const bool latin1 = std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() <= 0xFF; });
        const std::lock_guard lock(m_mutex);
        m_utf8 = utf8;
        m_latin1 = latin1 ? text.toLatin1() : QByteArray();
        m_isLatin1 = latin1;
        m_ownedAt = time;
        m_tag = tag;
    }
    xcb_set_selection_owner(m_connection, m_window, m_atoms.selection, time);
    // Asked back as the protocol asks of a new owner; once answered, the server has made us the owner
    // before any paste shortcut posted after this can reach a window.
    const Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(m_connection, xcb_get_selection_owner(m_connection, m_atoms.selection), nullptr));
    return owner && owner->owner == m_window;
}

QByteArray X11SelectionOwner::text() const
{
    const std::lock_guard lock(m_mutex);
    return m_utf8;
}

void X11SelectionOwner::run()
{
    pthread_setname_np(pthread_self(), "zq-selection");
    while (!m_stopping.load()) {
        xcb_generic_event_t *event = xcb_wait_for_event(m_connection);
        if (!event)
            return; // the connection broke
        if ((event->response_type & 0x7f) == XCB_SELECTION_REQUEST)
            answer(event);
        // A SelectionClear needs nothing: requests go to the new owner, and the text stays for text().
        std::free(event);
    }
}

void X11SelectionOwner::answer(const void *event)
{
    const auto *request = static_cast<const xcb_selection_request_event_t *>(event);
    // Clients from before the protocol's current version name no property: the target is used.
    const xcb_atom_t property = request->property == XCB_ATOM_NONE ? request->target : request->property;
    const bool ours = request->selection == m_atoms.selection;
    bool answered = false;
    bool fetch = false;
    qint64 tag = 0;
    const auto reply = [&](xcb_atom_t type, std::uint8_t format, std::uint32_t count, const void *data) {
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, request->requestor, property, type, format, count,
                            data);
        answered = true;
    };
    if (ours) {
        const std::lock_guard lock(m_mutex);
        const xcb_atom_t target = request->target;
        if (target == m_atoms.targets) {
            std::vector<xcb_atom_t> types{m_atoms.targets, m_atoms.timestamp, m_atoms.utf8, m_atoms.plainUtf8,
                                          m_atoms.text};
            if (m_isLatin1)
                types.push_back(XCB_ATOM_STRING);
            reply(XCB_ATOM_ATOM, 32, std::uint32_t(types.size()), types.data());
        } else if (target == m_atoms.timestamp) {
            reply(XCB_ATOM_INTEGER, 32, 1, &m_ownedAt);
        } else if (target == m_atoms.utf8 || target == m_atoms.plainUtf8 || target == m_atoms.text ||
                   (target == XCB_ATOM_STRING && m_isLatin1)) {
            // TEXT lets the owner choose: STRING where it fits, as the old clients that ask for it read best.
            const bool latin1 = target == XCB_ATOM_STRING || (target == m_atoms.text && m_isLatin1);
            const QByteArray &bytes = latin1 ? m_latin1 : m_utf8;
            const xcb_atom_t type =
                target == m_atoms.text ? (latin1 ? xcb_atom_t(XCB_ATOM_STRING) : m_atoms.utf8) : target;
            reply(type, 8, std::uint32_t(bytes.size()), bytes.constData());
            fetch = true;
            tag = m_tag;
        }
    }
    // Anything else (MULTIPLE, another type) is refused.
    xcb_selection_notify_event_t notify{};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = request->time;
    notify.requestor = request->requestor;
    notify.selection = request->selection;
    notify.target = request->target;
    notify.property = answered ? property : xcb_atom_t(XCB_ATOM_NONE);
    xcb_send_event(m_connection, 0, request->requestor, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char *>(&notify));
    xcb_flush(m_connection);
    if (fetch) {
        ++m_fetches;
        // Queued: it runs on the main thread, after the answer went out.
        QMetaObject::invokeMethod(
            &m_context,
            [this, client = std::uint32_t(request->requestor & ~m_clientMask), tag] { m_fetched(client, tag); },
            Qt::QueuedConnection);
    }
}

} // namespace zq::platform

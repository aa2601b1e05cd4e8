#include "platform/linux/x11/X11EventTap.h"

#include "pipeline/TriggerKey.h"
#include "platform/linux/x11/X11Connection.h"
#include "platform/linux/x11/X11KeyCodes.h"
#include "platform/linux/x11/X11KeyboardMap.h"
#include "platform/linux/x11/X11SyntheticKeys.h"
#include "runtime/Log.h"

#include <array>
#include <atomic>
#include <bitset>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

namespace zq::platform {

namespace {

// What one connection to the server needs for reading: the connection, the extension's opcode, the
// keyboard by position, and the XTest devices (whose keys may be our own).
struct Session {
    std::unique_ptr<X11Connection> connection;
    int xiOpcode = 0;
    KeyboardMap keyboard;
    std::set<int> xtestDevices;
};

std::set<int> findXTestDevices(Display *display)
{
    std::set<int> ids;
    int count = 0;
    XIDeviceInfo *devices = XIQueryDevice(display, XIAllDevices, &count);
    for (int i = 0; i < count; ++i) {
        const QByteArray name(devices[i].name);
        if (name.endsWith(" XTEST keyboard") || name.endsWith(" XTEST pointer"))
            ids.insert(devices[i].deviceid);
    }
    if (devices)
        XIFreeDeviceInfo(devices);
    return ids;
}

// The middle and side buttons down on any master pointer, numbered as in events.
std::set<std::int64_t> buttonsDown(Display *display)
{
    std::set<std::int64_t> buttons;
    int count = 0;
    XIDeviceInfo *devices = XIQueryDevice(display, XIAllMasterDevices, &count);
    for (int i = 0; i < count; ++i) {
        for (int c = 0; devices[i].use == XIMasterPointer && c < devices[i].num_classes; ++c) {
            if (devices[i].classes[c]->type != XIButtonClass)
                continue;
            const auto *info = reinterpret_cast<const XIButtonClassInfo *>(devices[i].classes[c]);
            for (int xButton = 0; xButton < info->state.mask_len * 8; ++xButton) {
                const std::optional<std::int64_t> button = x11::logicalMouseButton(xButton);
                if (button && XIMaskIsSet(info->state.mask, xButton))
                    buttons.insert(*button);
            }
        }
    }
    if (devices)
        XIFreeDeviceInfo(devices);
    return buttons;
}

std::optional<Session> openSession(const QByteArray &displayName, QString *why)
{
    if (displayName.isEmpty()) {
        *why = qEnvironmentVariableIsSet("WAYLAND_DISPLAY")
                   ? QStringLiteral("a Wayland session without X11 access: global trigger keys need X11 or XWayland")
                   : QStringLiteral("no X11 display (DISPLAY is not set)");
        return std::nullopt;
    }
    Session session;
    session.connection = X11Connection::open(displayName, why);
    if (!session.connection)
        return std::nullopt;
    Display *display = session.connection->display();
    int event = 0;
    int error = 0;
    if (!XQueryExtension(display, "XInputExtension", &session.xiOpcode, &event, &error)) {
        *why = QStringLiteral("the X server has no XInput extension");
        return std::nullopt;
    }
    int major = 2;
    int minor = 2;
    if (XIQueryVersion(display, &major, &minor) != Success || major < 2 || (major == 2 && minor < 1)) {
        *why = QStringLiteral("the X server's XInput is older than 2.1");
        return std::nullopt;
    }

    std::array<unsigned char, XIMaskLen(XI_LASTEVENT)> rawMask{};
    XISetMask(rawMask.data(), XI_RawKeyPress);
    XISetMask(rawMask.data(), XI_RawKeyRelease);
    XISetMask(rawMask.data(), XI_RawButtonPress);
    XISetMask(rawMask.data(), XI_RawButtonRelease);
    std::array<unsigned char, XIMaskLen(XI_LASTEVENT)> hierarchyMask{};
    XISetMask(hierarchyMask.data(), XI_HierarchyChanged);
    std::array<XIEventMask, 2> masks{
        XIEventMask{XIAllMasterDevices, static_cast<int>(rawMask.size()), rawMask.data()},
        XIEventMask{XIAllDevices, static_cast<int>(hierarchyMask.size()), hierarchyMask.data()}};
    XISelectEvents(display, DefaultRootWindow(display), masks.data(), static_cast<int>(masks.size()));
    session.keyboard = x11::readKeyboardMap(display);
    session.xtestDevices = findXTestDevices(display);
    XSync(display, False);
    if (session.connection->isBroken()) {
        *why = QStringLiteral("the X connection broke while setting up");
        return std::nullopt;
    }
    return session;
}

} // namespace

class X11EventTap::Reader {
public:
    Reader(Session session, Handlers handlers, std::shared_ptr<X11SyntheticKeys> ownKeys, QByteArray displayName)
        : m_session(std::move(session)), m_handlers(std::move(handlers)), m_ownKeys(std::move(ownKeys)),
          m_displayName(std::move(displayName)), m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        m_thread = std::thread([this] { run(); });
    }

    ~Reader()
    {
        m_stopping.store(true);
        wake();
        m_thread.join();
        ::close(m_wake);
    }

    void requestReconnect()
    {
        m_reconnect.store(true);
        wake();
    }

private:
    void wake()
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_wake, &one, sizeof one);
    }

    void drainWake()
    {
        std::uint64_t value = 0;
        [[maybe_unused]] const ssize_t read = ::read(m_wake, &value, sizeof value);
    }

    // Waits for the X connection (when there is one) or a wake-up, at most `timeoutMs` (-1: no limit).
    void wait(int timeoutMs)
    {
        std::array<pollfd, 2> fds{pollfd{m_wake, POLLIN, 0}, pollfd{-1, POLLIN, 0}};
        if (m_session)
            fds[1].fd = m_session->connection->fileDescriptor();
        if (::poll(fds.data(), fds[1].fd >= 0 ? 2 : 1, timeoutMs) > 0 && (fds[0].revents & POLLIN))
            drainWake();
    }

    void run()
    {
        pthread_setname_np(pthread_self(), "zq-hotkey-x11");
        bool reportedReconnectFailure = false;
        while (!m_stopping.load()) {
            if (m_session) {
                readPending();
                if (m_session->connection->isBroken()) {
                    connectionLost();
                    continue;
                }
                wait(-1);
            } else if (m_reconnect.load()) {
                QString why;
                if (std::optional<Session> session = openSession(m_displayName, &why)) {
                    m_session = std::move(session);
                    m_reconnect.store(false);
                    reportedReconnectFailure = false;
                    qCInfo(lcHotkey) << "hotkey: reconnected to the X server";
                    restored();
                } else {
                    if (!reportedReconnectFailure)
                        qCWarning(lcHotkey) << "hotkey: cannot reconnect yet:" << why << "- retrying every second";
                    reportedReconnectFailure = true;
                    wait(1000);
                }
            } else {
                wait(-1);
            }
        }
    }

    void connectionLost()
    {
        qCWarning(lcHotkey) << "hotkey: the connection to the X server broke";
        m_session.reset();
        m_reconnect.store(false); // until the owner asks for it
        m_keysDown.reset();
        m_buttonsDown.clear();
        m_lastServerTime.reset();
        if (m_handlers.onDisabled)
            m_handlers.onDisabled(DisabledReason::connectionLost);
    }

    // Releases made while the connection was lost were never seen: the server's present state is the
    // record from now on, and the owner learns which presses are still in effect.
    void restored()
    {
        Display *display = m_session->connection->display();
        std::array<char, 32> keymap{};
        XQueryKeymap(display, keymap.data());
        m_buttonsDown = buttonsDown(display);
        if (m_session->connection->isBroken())
            return;
        for (std::size_t code = 0; code < m_keysDown.size(); ++code)
            m_keysDown.set(code, (static_cast<unsigned char>(keymap[code / 8]) >> (code % 8)) & 1U);

        std::vector<TriggerEvent> held;
        const std::uint64_t flags = currentFlags();
        for (std::size_t code = 0; code < m_keysDown.size(); ++code) {
            if (!m_keysDown.test(code))
                continue;
            TriggerEvent press;
            press.keyCode = m_session->keyboard.logicalCodes[code];
            press.type = x11::isModifierKey(press.keyCode) ? TriggerEventType::flagsChanged : TriggerEventType::keyDown;
            press.flags = flags;
            held.push_back(press);
        }
        for (const std::int64_t button : m_buttonsDown) {
            TriggerEvent press;
            press.type = TriggerEventType::otherMouseDown;
            press.buttonNumber = button;
            press.flags = flags;
            held.push_back(press);
        }
        if (m_handlers.onRestored)
            m_handlers.onRestored(held);
    }

    void readPending()
    {
        Display *display = m_session->connection->display();
        while (!m_stopping.load() && !m_session->connection->isBroken() && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            XGenericEventCookie &cookie = event.xcookie;
            if (cookie.type != GenericEvent || cookie.extension != m_session->xiOpcode ||
                !XGetEventData(display, &cookie))
                continue;
            switch (cookie.evtype) {
            case XI_RawKeyPress:
            case XI_RawKeyRelease: {
                const auto *raw = static_cast<const XIRawEvent *>(cookie.data);
                handleKey(raw->detail, cookie.evtype == XI_RawKeyPress, raw->sourceid, raw->time);
                break;
            }
            case XI_RawButtonPress:
            case XI_RawButtonRelease: {
                const auto *raw = static_cast<const XIRawEvent *>(cookie.data);
                handleButton(raw->detail, cookie.evtype == XI_RawButtonPress, raw->time);
                break;
            }
            case XI_HierarchyChanged:
                m_session->xtestDevices = findXTestDevices(display);
                break;
            default:
                break;
            }
            XFreeEventData(display, &cookie);
        }
    }

    std::uint64_t currentFlags() const
    {
        std::uint64_t flags = 0;
        for (std::size_t code = 0; code < m_keysDown.size(); ++code) {
            if (m_keysDown.test(code))
                flags |= x11::modifierFlagsOfKey(m_session->keyboard.logicalCodes[code]);
        }
        return flags;
    }

    // Server times are 32-bit milliseconds that wrap after 49 days; the logic wants one growing clock.
    std::chrono::nanoseconds eventTime(Time serverTime)
    {
        const auto time32 = static_cast<std::uint32_t>(serverTime);
        if (!m_lastServerTime)
            m_serverTimeMs = time32;
        else
            m_serverTimeMs += static_cast<std::int32_t>(time32 - *m_lastServerTime);
        m_lastServerTime = time32;
        return std::chrono::milliseconds(m_serverTimeMs);
    }

    void handleKey(int xKeyCode, bool press, int sourceId, Time time)
    {
        if (xKeyCode < 0 || xKeyCode > 255)
            return;
        if (m_session->xtestDevices.count(sourceId) != 0 && m_ownKeys && m_ownKeys->consume(xKeyCode, press))
            return;
        const bool wasDown = m_keysDown.test(static_cast<std::size_t>(xKeyCode));
        if (!press && !wasDown)
            return;
        const std::int64_t code = m_session->keyboard.logicalCodes[static_cast<std::size_t>(xKeyCode)];
        m_keysDown.set(static_cast<std::size_t>(xKeyCode), press);

        TriggerEvent event;
        event.keyCode = code;
        event.flags = currentFlags();
        event.time = eventTime(time);
        if (x11::isModifierKey(code)) {
            if (press && wasDown)
                return; // modifiers do not repeat
            event.type = TriggerEventType::flagsChanged;
        } else {
            event.type = press ? TriggerEventType::keyDown : TriggerEventType::keyUp;
            event.isAutoRepeat = press && wasDown;
        }
        m_handlers.onEvent(event);
    }

    void handleButton(int xButton, bool press, Time time)
    {
        const std::optional<std::int64_t> button = x11::logicalMouseButton(xButton);
        if (!button)
            return;
        const bool wasDown = m_buttonsDown.count(*button) != 0;
        if (press == wasDown)
            return;
        if (press)
            m_buttonsDown.insert(*button);
        else
            m_buttonsDown.erase(*button);
        TriggerEvent event;
        event.type = press ? TriggerEventType::otherMouseDown : TriggerEventType::otherMouseUp;
        event.buttonNumber = *button;
        event.flags = currentFlags();
        event.time = eventTime(time);
        m_handlers.onEvent(event);
    }

    std::optional<Session> m_session;
    const Handlers m_handlers;
    const std::shared_ptr<X11SyntheticKeys> m_ownKeys;
    const QByteArray m_displayName;
    const int m_wake;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_reconnect{false};
    std::bitset<256> m_keysDown;
    std::set<std::int64_t> m_buttonsDown;
    std::optional<std::uint32_t> m_lastServerTime;
    std::int64_t m_serverTimeMs = 0;
    std::thread m_thread;
};

X11EventTap::X11EventTap(std::shared_ptr<X11SyntheticKeys> ownKeys, QByteArray displayName)
    : m_ownKeys(std::move(ownKeys)), m_displayName(std::move(displayName))
{}

X11EventTap::~X11EventTap()
{
    stop();
}

bool X11EventTap::start(Handlers handlers)
{
    if (m_reader)
        return true;
    QString why;
    std::optional<Session> session = openSession(m_displayName, &why);
    if (!session) {
        qCWarning(lcHotkey) << "hotkey: global trigger keys are not available:" << why;
        return false;
    }
    if (!session->keyboard.hasFnKey)
        qCInfo(lcHotkey) << "hotkey: the keyboard gives no Fn key to the X server; an Fn trigger cannot be seen";
    if (qgetenv("XDG_SESSION_TYPE") == "wayland")
        qCInfo(lcHotkey) << "hotkey: running under XWayland; keys typed into Wayland windows cannot be seen";
    m_reader = std::make_unique<Reader>(std::move(*session), std::move(handlers), m_ownKeys, m_displayName);
    return true;
}

void X11EventTap::enable()
{
    if (m_reader)
        m_reader->requestReconnect();
}

void X11EventTap::stop()
{
    m_reader.reset();
}

} // namespace zq::platform

#pragma once

#include "platform/EventTap.h"

#include <QByteArray>

#include <memory>

namespace zq::platform {

class X11SyntheticKeys;

// The event source on X11 (also XWayland): XInput2 raw key and button events of all master devices,
// selected on the root window. Raw events see every key of every client without a grab, so nothing is
// taken from other applications. A thread of its own reads them, keeps its own record of which keys and
// buttons are down (raw events also report releases of keys that are up) and translates them by key
// position into the logical key space.
//
// Without an X11 display (a Wayland session without XWayland), or without XInput 2.1 or later, start()
// logs why and returns false. When the connection to the server breaks, onDisabled(connectionLost) is
// reported once; enable() then reconnects, retrying every second until it succeeds or stop() is called,
// and reports the keys and buttons the server has down at that moment (onRestored).
// Under XWayland only keys typed into X11 windows can be seen.
class X11EventTap final : public EventTap {
public:
    // `displayName` ":N"; by default the DISPLAY of the environment.
    explicit X11EventTap(std::shared_ptr<X11SyntheticKeys> ownKeys, QByteArray displayName = qgetenv("DISPLAY"));
    ~X11EventTap() override;

    bool start(Handlers handlers) override;
    void enable() override;
    void stop() override;
    bool isRunning() const override { return m_reader != nullptr; }

private:
    class Reader;

    std::shared_ptr<X11SyntheticKeys> m_ownKeys;
    QByteArray m_displayName;
    std::unique_ptr<Reader> m_reader;
};

} // namespace zq::platform

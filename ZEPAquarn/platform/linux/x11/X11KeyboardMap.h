#pragma once

#include "platform/PermissionProbe.h"

#include <QByteArray>

#include <optional>

struct _XDisplay;

namespace zq::platform::x11 {

// The keyboard as the server has it now: each X key code's logical code by where the key sits, and
// which key gives Fn, if any. A key the names do not place keeps its unmapped code.
KeyboardMap readKeyboardMap(_XDisplay *display);
// The same over a connection of its own to `displayName`, closed again; none when it cannot be reached.
std::optional<KeyboardMap> readKeyboardMap(const QByteArray &displayName);

} // namespace zq::platform::x11

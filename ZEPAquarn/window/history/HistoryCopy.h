#pragma once

#include <QString>

#include <optional>

namespace zq {

namespace platform {
class Pasteboard;
}

// Puts a transcript on the clipboard as plain text, replacing what was there. An absent or empty
// text gives false and leaves the clipboard alone. Shared by the History page and the tray panel's
// copy-latest button.
bool copyHistoryText(platform::Pasteboard &pasteboard, const std::optional<QString> &text);

} // namespace zq

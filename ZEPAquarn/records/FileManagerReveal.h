#pragma once

#include <QString>

#include <functional>

namespace zq {

// How a request to show a file ended: whether something on the desktop took it. When nothing did,
// the caller says where the file is, so the user can still find it.
struct RevealResult {
    QString path;
    bool shown = false;
};
using RevealDone = std::function<void(const RevealResult &)>;
// Shows a file in the file manager and reports once through `done` (which may be empty).
using RevealFile = std::function<void(const QString &path, RevealDone done)>;

// Opens a file-manager window with `path` selected (org.freedesktop.FileManager1 over the session
// bus); when no file manager answers, opens the containing folder with xdg-open instead. `done`
// hears once whether either took the request: the file manager's reply, xdg-open ending well, or
// xdg-open still running after kOpenerSettleMs (without a desktop of its own it waits for the
// folder window it started). It hears false when xdg-open is missing or ends with an error.
// Main thread; returns at once.
void revealInFileManager(const QString &path, RevealDone done = {});

inline constexpr int kOpenerSettleMs = 3000;

} // namespace zq

#pragma once

#include <QString>

namespace zq {

// Opens a file-manager window with `path` selected (org.freedesktop.FileManager1 over the session
// bus); when no file manager answers, opens the containing folder with xdg-open instead.
// Main thread; returns at once.
void revealInFileManager(const QString &path);

} // namespace zq

#pragma once

#include <QDir>
#include <QString>

namespace zq {

// The line a Support row shows when nothing on the desktop could show its file: where the file is,
// so the user can still find it. `what` names the file ("recording"). The home folder reads "~",
// and a line may break after each "/" (and only there) so that a long path wraps instead of
// widening the row.
QString revealFailureText(const QString &what, const QString &path, const QString &home = QDir::homePath());

} // namespace zq

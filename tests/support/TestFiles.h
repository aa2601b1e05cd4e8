#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace zq::test {

// The whole file; empty when it cannot be read.
QByteArray readFile(const QString &path);
// Replaces the file's contents with `bytes`, as plain (non-atomic) writes do; fails the test when
// the file cannot be opened.
void writeFile(const QString &path, const QByteArray &bytes);
// The permission bits of the entry itself (a link's own, not its target's); 0 when it is missing.
mode_t modeOf(const QString &path);

} // namespace zq::test

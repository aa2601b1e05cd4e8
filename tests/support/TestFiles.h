#pragma once

#include <QByteArray>
#include <QString>

namespace zq::test {

// The whole file; empty when it cannot be read.
QByteArray readFile(const QString &path);
// Replaces the file's contents with `bytes`, as plain (non-atomic) writes do; fails the test when
// the file cannot be opened.
void writeFile(const QString &path, const QByteArray &bytes);

} // namespace zq::test

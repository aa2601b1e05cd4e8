#pragma once

#include "runtime/Result.h"

#include <QByteArray>
#include <QString>

namespace zq::platform {

// An update arrives as a gzip-compressed tar archive holding one executable (the application
// carries its assets inside it). Unpacking refuses links, devices and any entry whose path would
// leave the destination folder, and writes nothing outside that folder.
//
// Unpacks `archive` into `destination` (an existing, empty, private folder) and returns the path
// of the one regular file in it. Blocking; any thread.
rt::Result<QString> unpackUpdateArchive(const QByteArray &archive, const QString &destination);

} // namespace zq::platform

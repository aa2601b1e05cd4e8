#pragma once

#include "runtime/Result.h"

#include <QString>

namespace zq::platform {

// An update arrives as a gzip-compressed tar archive holding one executable (the application
// carries its assets inside it). Unpacking refuses links, devices and any entry whose path would
// leave the destination folder, and writes nothing outside that folder.
//
// Unpacks the archive file at `archivePath` into `destination` (an existing, empty, private
// folder) and returns the path of the one regular file in it. It streams, so memory stays bounded
// whatever the archive holds; once more than `maximumBytes` come out of the gzip stream it stops
// with an error, so a bomb fills neither memory nor the disk. What it wrote before a failure stays
// in `destination` for the caller to remove. Blocking; any thread.
rt::Result<QString> unpackUpdateArchive(const QString &archivePath, const QString &destination, qint64 maximumBytes);

} // namespace zq::platform

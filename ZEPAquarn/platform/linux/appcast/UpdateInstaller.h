#pragma once

#include "runtime/Result.h"

#include <QString>

namespace zq::platform {

// Puts the file at `source` in place of `target`: copies it in bounded chunks into a temporary
// beside the target (".<target name>.update-XXXXXX") with the permission bits `mode`, flushes it to
// disk, renames it over the target and flushes the folder. Until the rename the old file is whole;
// on failure the temporary is removed. Blocking; any thread.
rt::Result<void> installFile(const QString &source, const QString &target, unsigned mode);

// The permission bits of the file at `path` (no set-id or sticky bits), or an error when it is no
// regular file.
rt::Result<unsigned> permissionBits(const QString &path);

// Whether `name` is a temporary that an install of the executable named `executableName` makes
// beside it: ".<name>.update-XXXXXX", or ".<name>.tmp-XXXXXX" of installs made by atomic writes.
bool isInstallTemporary(const QString &name, const QString &executableName);

// Removes what an update that a kill cut short leaves behind: install temporaries beside the
// executable, and the update folders ("update-XXXXXX") in `workDirectory` with the download and
// the unpacked executable in them. Links are never followed. Call it only while no update of this
// executable runs (at start, under the single-instance lock). Returns how many entries went.
int sweepInterruptedUpdates(const QString &executablePath, const QString &workDirectory);

} // namespace zq::platform

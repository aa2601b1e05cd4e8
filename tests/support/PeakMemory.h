#pragma once

#include <QtGlobal>

namespace zq::test {

// This process's resident memory and its peak since the last reset, in bytes, from
// /proc/self/status (VmRSS, VmHWM); -1 when unreadable.
struct MemoryUse {
    qint64 resident = -1;
    qint64 peak = -1;
};
MemoryUse memoryUse();

// Starts a new peak at the current resident size (writes "5" to /proc/self/clear_refs); false when
// the kernel refuses.
bool resetPeakMemory();

} // namespace zq::test

#pragma once

namespace zq::test {

// A toolkit draws at one scale for the life of its process. Runs the current test again in a process
// of its own drawing at `scale` (QT_SCALE_FACTOR), unless this one does: true when it did, and the
// child's failures are the current test's. Call first in a test body and return when it is true.
bool ranInAProcessAtScale(int scale);

} // namespace zq::test

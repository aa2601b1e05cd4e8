#pragma once

namespace zq::rt {
class Settings;
}

namespace zq {

// Moves a custom binding held as the primary trigger to the empty secondary slot and gives the
// primary back to Fn. Runs at every launch; a second run finds nothing to move, and any condition
// that does not hold leaves both settings as they are.
void migrateTriggerKeyToSecondary(rt::Settings &settings);

} // namespace zq

#pragma once

namespace zq {

// The appearance a colour is drawn in. Views resolve tokens against an explicit scheme at draw time:
// a widget's own (colorSchemeOf), or a forced one (the ledger export always draws dark). The desktop
// states its preference in the same terms.
enum class ColorScheme { light, dark };

} // namespace zq

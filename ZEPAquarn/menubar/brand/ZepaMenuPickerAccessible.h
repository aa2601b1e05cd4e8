#pragma once

namespace zq {

// Makes Qt describe every brand picker as screen readers expect a combo box: named with its title,
// its current choice as value and text, expandable, with its open menu as its child. Once per
// process; later calls do nothing.
void installZepaMenuPickerAccessibility();

} // namespace zq

#pragma once

#include "pipeline/Colorway.h"
#include "pipeline/PillState.h"

namespace zq {

// What the dictation controller needs of the floating pill: it says which state to show, and the
// application says which skin to wear. The drawn pill lives with the views; keeping only this
// interface here lets the logic build and link without them.
//
// Main thread only.
class PillDisplay {
public:
    virtual ~PillDisplay() = default;

    // Shows, changes or hides the pill to match `state`. Never fails.
    virtual void update(const PillState &state) = 0;

    virtual Colorway colorway() const = 0;
    // The worn skin; the pill redraws in it.
    virtual void setColorway(Colorway colorway) = 0;
};

} // namespace zq

#pragma once

// The pill's states belong to the controller that drives them; views include them from here too.
#include "pipeline/PillState.h"

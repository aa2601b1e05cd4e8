#pragma once

namespace zq {

// How a take hands out its audio. Only the lowest bit is meaningful.
enum class TakeMode {
    streamed = 0, // written to the take file and also streamed live
    fileOnly = 1, // written to the take file only
};

} // namespace zq

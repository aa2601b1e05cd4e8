#pragma once

#include "runtime/Executor.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zq {

// Keeps audio objects that the audio server may still call into shortly after they were stopped
// alive for a while (10 s), then drops them on the pool's queue, so their teardown never runs on
// the thread that retired them. Thread-safe. `queue` must outlive the pool's pending releases.
class DeferredAudioObjectReleasePool {
public:
    static constexpr rt::Nanos kDefaultDelay = std::chrono::seconds(10);

    explicit DeferredAudioObjectReleasePool(rt::Executor &queue, rt::Nanos delay = kDefaultDelay);
    ~DeferredAudioObjectReleasePool();
    DeferredAudioObjectReleasePool(const DeferredAudioObjectReleasePool &) = delete;
    DeferredAudioObjectReleasePool &operator=(const DeferredAudioObjectReleasePool &) = delete;

    // Takes one more reference to `object` (retiring the same object twice keeps it twice).
    void retire(std::shared_ptr<void> object);

    rt::Nanos delay() const { return m_delay; }
    // Objects held right now.
    std::size_t retainedCount() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
    rt::Executor &m_queue;
    const rt::Nanos m_delay;
};

// The process's one pool; its releases run on "io.quorvane.zepaquarn.audio-retirement".
DeferredAudioObjectReleasePool &sharedAudioReleasePool();

} // namespace zq

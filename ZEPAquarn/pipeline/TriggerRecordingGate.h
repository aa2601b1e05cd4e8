#pragma once

#include <atomic>

namespace zq {

// Whether a trigger recorder has the keyboard. While one records, the keys the user presses are meant
// for it, not for dictation: the global trigger's event source drops the presses it sees meanwhile.
// Recorders open and close it on the main thread; the event source reads it on its own thread.
class TriggerRecordingGate {
public:
    void open() { m_recorders.fetch_add(1); }
    void close() { m_recorders.fetch_sub(1); }
    bool isRecording() const { return m_recorders.load() > 0; }

private:
    std::atomic<int> m_recorders{0};
};

} // namespace zq

#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <thread>

namespace zq {

// A serial queue with its own thread, for blocking calls into the audio server. Destroying it lets
// the thread finish what was posted and joins it. A queue stuck in one item is released instead:
// it runs what was posted and then ends on its own, and its owner destroys it once it has ended.
class AudioServerQueue {
public:
    explicit AudioServerQueue(QString label);
    ~AudioServerQueue();
    AudioServerQueue(const AudioServerQueue &) = delete;
    AudioServerQueue &operator=(const AudioServerQueue &) = delete;

    const QString &label() const { return m_label; }
    void post(std::function<void()> work);
    bool isCurrent() const;

    // Takes no more work; the thread ends once what was posted has run.
    void release();
    // Whether the thread has ended, so destroying the queue does not wait.
    bool hasEnded() const;
    // Waits for the end of a released queue's thread.
    void waitUntilEnded() const;

private:
    struct State;
    QString m_label;
    std::unique_ptr<State> m_state;
    std::thread m_thread;
};

} // namespace zq

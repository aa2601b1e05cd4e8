#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace zq {

// A serial queue with its own thread, released like a dispatch queue: dropping the last handle
// lets the thread finish what was posted and then end. A queue stuck in one item is simply left
// behind with its thread.
class AudioServerQueue {
public:
    explicit AudioServerQueue(QString label);
    ~AudioServerQueue();
    AudioServerQueue(const AudioServerQueue &) = delete;
    AudioServerQueue &operator=(const AudioServerQueue &) = delete;

    const QString &label() const { return m_label; }
    void post(std::function<void()> work);
    bool isCurrent() const;

private:
    struct State;
    QString m_label;
    std::shared_ptr<State> m_state;
};

} // namespace zq

#pragma once

#include "runtime/Executor.h"

#include <QString>

#include <memory>

namespace zq::rt {

// A named serial queue: one thread that runs its items one after another, in order.
// Delayed items run on the steady clock. Destroying the queue runs what is already due, then
// joins the thread. A queue destroyed by one of its own items cannot join its thread: the thread
// ends after that item and is joined when the process exits.
class SerialQueue final : public Executor {
public:
    explicit SerialQueue(QString label);
    ~SerialQueue() override;
    SerialQueue(const SerialQueue &) = delete;
    SerialQueue &operator=(const SerialQueue &) = delete;

    const QString &label() const { return m_label; }

    void post(Function fn) override;
    WorkItem postDelayed(Nanos delay, Function fn) override;
    Nanos now() const override;
    bool isCurrent() const override;

    // Blocks the caller until every item posted before this call has run. Never call it on the queue.
    void drain();

private:
    struct State;
    QString m_label;
    std::shared_ptr<State> m_state;
};

} // namespace zq::rt

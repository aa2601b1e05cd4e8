#pragma once

#include "records/StoreWriter.h"

#include <QByteArray>
#include <QString>

#include <future>

namespace zq::test {

// A store writer whose queue waits behind a first write until release(): what a store hands it stays
// off the disk until then, as a slow write of a large file keeps it. Declare it before what may hand
// it writes as it ends, so that it outlives them.
class HeldStoreWriter {
public:
    // The held write goes to `blocker`.
    explicit HeldStoreWriter(const QString &blocker)
    {
        writer.write(
            blocker,
            [released = m_gate.get_future().share()] {
                released.wait();
                return QByteArray("[]");
            },
            "test");
    }
    ~HeldStoreWriter() { release(); }
    HeldStoreWriter(const HeldStoreWriter &) = delete;
    HeldStoreWriter &operator=(const HeldStoreWriter &) = delete;

    // Lets the queue go on and waits until everything handed to it is written.
    void release()
    {
        if (!m_released) {
            m_released = true;
            m_gate.set_value();
        }
        writer.waitUntilWritten();
    }

    StoreWriter writer;

private:
    std::promise<void> m_gate;
    bool m_released = false;
};

} // namespace zq::test

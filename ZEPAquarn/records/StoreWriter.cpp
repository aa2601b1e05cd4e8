#include "records/StoreWriter.h"

#include "records/StoreFile.h"

namespace zq {

StoreWriter::StoreWriter() : m_queue(QStringLiteral("io.quorvane.zepaquarn.store-writer")) {}

StoreWriter::~StoreWriter()
{
    waitUntilWritten();
}

void StoreWriter::write(const QString &path, Encoder encode, const char *store)
{
    m_queue.post([this, path, encode = std::move(encode), store] {
        m_lastWriteOnDisk[path] = StoreFile::write(path, encode(), store);
    });
}

void StoreWriter::whenWritten(const QString &path, std::function<void(bool onDisk)> done)
{
    m_queue.post([this, path, done = std::move(done)] {
        const auto last = m_lastWriteOnDisk.find(path);
        done(last == m_lastWriteOnDisk.end() || last->second);
    });
}

void StoreWriter::waitUntilWritten()
{
    m_queue.drain();
}

} // namespace zq

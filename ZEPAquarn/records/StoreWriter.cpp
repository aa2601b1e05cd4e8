#include "records/StoreWriter.h"

#include "records/StoreFile.h"

namespace zq {

StoreWriter::StoreWriter() : m_queue(QStringLiteral("io.quorvane.zepaquarn.store-writer")) {}

StoreWriter::~StoreWriter()
{
    waitUntilWritten();
}

void StoreWriter::write(const QString &path, QByteArray bytes, const char *store)
{
    m_queue.post([path, bytes = std::move(bytes), store] { StoreFile::write(path, bytes, store); });
}

void StoreWriter::waitUntilWritten()
{
    m_queue.drain();
}

} // namespace zq

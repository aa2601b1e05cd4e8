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
    m_queue.post([path, encode = std::move(encode), store] { StoreFile::write(path, encode(), store); });
}

void StoreWriter::waitUntilWritten()
{
    m_queue.drain();
}

} // namespace zq

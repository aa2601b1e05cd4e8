#pragma once

#include "platform/Pasteboard.h"

#include <vector>

namespace zq::test {

// An in-memory clipboard with the counter semantics of the real one: every write, ours or another
// application's, counts one change.
class FakePasteboard final : public platform::Pasteboard {
public:
    std::vector<platform::PasteboardItem> items() override
    {
        ++m_readCount;
        return m_items;
    }
    void setString(const QString &text) override;
    void writeItems(const std::vector<platform::PasteboardItem> &items) override;
    qint64 changeCount() override { return m_changeCount; }
    std::optional<qint64> fetchCount() override { return m_fetchCount; }
    void setOnFetch(std::function<void(const platform::PasteboardFetch &)> onFetch) override
    {
        m_onFetch = std::move(onFetch);
    }
    bool leaveInCutBuffer() override
    {
        ++m_cutBufferLeaves;
        return true;
    }

    // Another application copies something.
    void copyFromOtherApplication(std::vector<platform::PasteboardItem> items);

    // From now on the clipboard tells how often another application fetched it (it starts not telling).
    void tellFetches() { m_fetchCount = m_fetchCount.value_or(0); }
    // Another application fetches the contents: the front window, as a paste into it does, or a reader
    // of its own `client` (0: one the clipboard cannot tell).
    void fetchFromOtherApplication(std::uint32_t client = 0);

    // The plain text of the first item, or a null string.
    QString text() const;
    int writeCount() const { return m_writeCount; }
    int readCount() const { return m_readCount; }
    int cutBufferLeaves() const { return m_cutBufferLeaves; }

private:
    std::vector<platform::PasteboardItem> m_items;
    qint64 m_changeCount = 0;
    int m_writeCount = 0;
    int m_readCount = 0;
    int m_cutBufferLeaves = 0;
    std::optional<qint64> m_fetchCount;
    std::function<void(const platform::PasteboardFetch &)> m_onFetch;
};

} // namespace zq::test

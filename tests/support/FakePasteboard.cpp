#include "support/FakePasteboard.h"

namespace zq::test {

void FakePasteboard::setString(const QString &text)
{
    writeItems({{{QStringLiteral("text/plain"), text.toUtf8()}}});
}

void FakePasteboard::writeItems(const std::vector<platform::PasteboardItem> &items)
{
    m_items = items;
    ++m_changeCount;
    ++m_writeCount;
}

void FakePasteboard::copyFromOtherApplication(std::vector<platform::PasteboardItem> items)
{
    m_items = std::move(items);
    ++m_changeCount;
}

void FakePasteboard::fetchFromOtherApplication(std::uint32_t client)
{
    if (!m_fetchCount)
        return;
    ++*m_fetchCount;
    if (m_onFetch)
        m_onFetch({client, m_changeCount});
}

QString FakePasteboard::text() const
{
    if (m_items.empty())
        return {};
    for (const auto &[type, bytes] : m_items.front()) {
        if (type == QLatin1String("text/plain"))
            return QString::fromUtf8(bytes);
    }
    return {};
}

} // namespace zq::test

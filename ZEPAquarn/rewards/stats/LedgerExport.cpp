#include "rewards/stats/LedgerExport.h"

#include "platform/Pasteboard.h"

namespace zq {

bool LedgerPasteboard::write(const QByteArray &data, const QString &type)
{
    if (type != pngType || data.isEmpty())
        return false;
    m_pasteboard.writeItems({{{pngType, data}}});
    return true;
}

bool LedgerExporter::copy(const WeekSummary &week, qint64 typingWPM, const std::optional<QString> &inviteCode,
                          Colorway colorway) const
{
    if (!renderer || !pasteboard)
        return false;
    const StatsLedgerContent model(week, typingWPM, locale, inviteCode);
    const std::optional<QByteArray> png = renderer->pngData(model, cardSize, cardScale, colorway);
    if (!png)
        return false;
    return pasteboard->write(*png, LedgerPasteboardWriting::pngType);
}

} // namespace zq

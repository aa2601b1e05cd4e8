#pragma once

#include "pipeline/Colorway.h"
#include "rewards/stats/StatsLedgerContent.h"

#include <QByteArray>
#include <QLocale>
#include <QSizeF>
#include <QString>

#include <memory>
#include <optional>

namespace zq {

namespace platform {
class Pasteboard;
}

// The copy button's text and the count of copies, so only the newest copy's delayed reset turns the
// label back.
struct LedgerCopyFeedback {
    QString label;
    quint64 generation = 0;

    friend bool operator==(const LedgerCopyFeedback &, const LedgerCopyFeedback &) = default;
};

// Renders the ledger card of a week as PNG data: `size` in points at `scale` device pixels per point.
class LedgerPNGRendering {
public:
    virtual ~LedgerPNGRendering() = default;
    virtual std::optional<QByteArray> pngData(const StatsLedgerContent &model, QSizeF size, qreal scale,
                                              Colorway colorway) const = 0;
};

// Puts data of one type on the clipboard; false when it was not written.
class LedgerPasteboardWriting {
public:
    static inline const QString pngType = QStringLiteral("image/png");

    virtual ~LedgerPasteboardWriting() = default;
    virtual bool write(const QByteArray &data, const QString &type) = 0;
};

// The clipboard of the desktop. Only PNG data is accepted: any other type is refused and leaves the
// clipboard as it was. The image replaces the contents in one step, so a copy that fails earlier
// never empties the clipboard.
class LedgerPasteboard final : public LedgerPasteboardWriting {
public:
    explicit LedgerPasteboard(platform::Pasteboard &pasteboard) : m_pasteboard(pasteboard) {}

    bool write(const QByteArray &data, const QString &type) override;

private:
    platform::Pasteboard &m_pasteboard;
};

// What the statistics page's copy action uses: the renderer, the clipboard and the locale of the
// exported numbers.
struct LedgerExporter {
    static constexpr QSizeF cardSize{480, 380};
    static constexpr qreal cardScale = 2.0;

    std::shared_ptr<const LedgerPNGRendering> renderer;
    std::shared_ptr<LedgerPasteboardWriting> pasteboard;
    QLocale locale;

    // Renders the week's card (960 × 760 pixels) and writes it as PNG; true only when both worked.
    bool copy(const WeekSummary &week, qint64 typingWPM, const std::optional<QString> &inviteCode,
              Colorway colorway) const;
};

} // namespace zq

#include "rewards/stats/LedgerCard.h"

#include "menubar/brand/ControlWell.h"
#include "menubar/brand/Typography.h"
#include "menubar/brand/ZepaSymbol.h"

#include "rewards/stats/StatsPageLayout.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace zq {

namespace {

constexpr double kPadding = 25;
constexpr double kSpacing = 16;
constexpr double kRowHeight = 30;
constexpr double kBarSpacing = 8;
constexpr double kMarkSize = 16;
constexpr double kCornerRadius = 14;

double lineHeight(const QFont &font)
{
    return QFontMetricsF(font).height();
}

struct Fonts {
    QFont caption = textFont(textStyle::caption);
    QFont total = textFont(textStyle::display);
    QFont wordsSpoken = textFont(textStyle::small);
    QFont rowLabel = textFont(textStyle::value);
    QFont rowValue = textFont(textStyle::figureValue);
    QFont dayLabel = textFont(textStyle::figureSmall);
    QFont website = textFont(textStyle::figureSmall);
};

// The six parts' heights, top to bottom, at any width: the card's content does not wrap.
struct Heights {
    double header, total, rows, chart, divider = 1, footer;
    double content() const { return header + total + rows + chart + divider + footer + 5 * kSpacing; }
};

Heights heightsFor(const Fonts &fonts, std::size_t rowCount)
{
    Heights h{};
    h.header = lineHeight(fonts.caption);
    h.total = lineHeight(fonts.total) + 4 + lineHeight(fonts.wordsSpoken);
    h.rows = double(rowCount) * kRowHeight;
    h.chart = StatsPageLayout::chartHeight + 8 + lineHeight(fonts.dayLabel);
    h.footer = std::max(kMarkSize, std::max(lineHeight(fonts.caption), lineHeight(fonts.website)));
    return h;
}

void drawText(QPainter &painter, const QRectF &rect, Qt::Alignment alignment, const QFont &font, const QColor &color,
              const QString &text)
{
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(rect, int(alignment | Qt::TextSingleLine), text);
}

} // namespace

Palette::Token LedgerCard::background(Colorway colorway)
{
    return colorwayBackground(colorway).value_or(Palette::surface);
}

Palette::Token LedgerCard::accent(Colorway colorway)
{
    return colorwayAccent(colorway);
}

double LedgerCard::naturalHeight(double)
{
    // Two padding edges around the content; three rows when time was reclaimed.
    return heightsFor(Fonts{}, 3).content() + 2 * kPadding;
}

void LedgerCard::paint(QPainter &painter, const QRectF &rect, ColorScheme requested) const
{
    // The colorways with a base of their own are dark in both appearances: light text tokens on them
    // would vanish, so those cards always take the dark values.
    const ColorScheme scheme = colorwayBackground(colorway) ? ColorScheme::dark : requested;
    const auto color = [scheme](Palette::Token token) { return Palette::color(token, scheme); };
    const QColor accentColor = color(accent(colorway));
    const Fonts fonts;
    const Heights heights = heightsFor(fonts, model.rows.size());

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);

    QPainterPath shape;
    shape.addRoundedRect(rect, kCornerRadius, kCornerRadius);
    painter.fillPath(shape, color(background(colorway)));
    painter.setClipPath(shape);

    const QRectF content = rect.adjusted(kPadding, kPadding, -kPadding, -kPadding);
    double y = content.top();
    const double x = content.left();
    const double width = content.width();

    // 1. Header: the brand, and the week in the accent.
    const QRectF header(x, y, width, heights.header);
    drawText(painter, header, Qt::AlignLeft | Qt::AlignVCenter, fonts.caption, color(Palette::textTertiary),
             model.brand);
    drawText(painter, header, Qt::AlignRight | Qt::AlignVCenter, fonts.caption, accentColor, model.weekLabel);
    y += heights.header + kSpacing;

    // 2. The words spoken.
    const double totalLine = lineHeight(fonts.total);
    drawText(painter, QRectF(x, y, width, totalLine), Qt::AlignLeft | Qt::AlignVCenter, fonts.total,
             color(Palette::textPrimary), model.wordCount);
    drawText(painter, QRectF(x, y + totalLine + 4, width, lineHeight(fonts.wordsSpoken)),
             Qt::AlignLeft | Qt::AlignVCenter, fonts.wordsSpoken, color(Palette::textTertiary),
             QStringLiteral("words spoken"));
    y += heights.total + kSpacing;

    // 3. The time rows; the reclaimed one in the accent.
    for (const StatsLedgerContent::Row &row : model.rows) {
        const QRectF line(x, y, width, kRowHeight);
        drawText(painter, line, Qt::AlignLeft | Qt::AlignVCenter, fonts.rowLabel, color(Palette::textSecondary),
                 row.label);
        drawText(painter, line, Qt::AlignRight | Qt::AlignVCenter, fonts.rowValue,
                 row.isReclaimed ? accentColor : color(Palette::textPrimary), row.value);
        y += kRowHeight;
    }
    y += kSpacing;

    // 4. A bar per day, bottom-aligned, with the day letters under them.
    const int days = int(model.dailyWords.size());
    const double barWidth = (width - kBarSpacing * (days - 1)) / days;
    for (int day = 0; day < days; ++day) {
        const qint64 words = model.dailyWords[std::size_t(day)];
        const double height = StatsPageLayout::barHeight(words, model.dailyWords);
        const QRectF bar(x + day * (barWidth + kBarSpacing), y + StatsPageLayout::chartHeight - height, barWidth,
                         height);
        QPainterPath path;
        path.addRoundedRect(bar, 2, 2);
        painter.fillPath(path, words >= 1 ? accentColor : color(Palette::hairline));
        if (day < model.dayLabels.size()) {
            drawText(painter,
                     QRectF(x + day * (barWidth + kBarSpacing), y + StatsPageLayout::chartHeight + 8, barWidth,
                            lineHeight(fonts.dayLabel)),
                     Qt::AlignHCenter | Qt::AlignVCenter, fonts.dayLabel, color(Palette::textTertiary),
                     model.dayLabels[day]);
        }
    }
    y += heights.chart + kSpacing;

    // 5. Divider.
    painter.fillRect(QRectF(x, y, width, 1), color(Palette::hairline));
    y += 1 + kSpacing;

    // 6. Footer: the mark, the brand, and the website at the far end.
    const QRectF footer(x, y, width, heights.footer);
    ZepaSymbol mark;
    mark.size = kMarkSize;
    mark.color = accentColor;
    mark.paint(painter, QRectF(x, footer.center().y() - kMarkSize / 2, kMarkSize, kMarkSize));
    drawText(painter, footer.adjusted(kMarkSize + 8, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, fonts.caption,
             color(Palette::textSecondary), model.brand);
    drawText(painter, footer, Qt::AlignRight | Qt::AlignVCenter, fonts.website, color(Palette::textTertiary),
             model.website);

    // The hairline border, inside the edge.
    painter.setClipping(false);
    strokeInsideEdge(painter, rect, kCornerRadius, color(Palette::hairline));
    painter.restore();
}

std::optional<QByteArray> LedgerImageRenderer::pngData(const StatsLedgerContent &model, QSizeF size, qreal scale,
                                                       Colorway colorway) const
{
    const QSize pixels(qRound(size.width() * scale), qRound(size.height() * scale));
    // Anything beyond a few screens is a caller's mistake, not a card.
    if (pixels.isEmpty() || pixels.width() > 8192 || pixels.height() > 8192)
        return std::nullopt;
    QImage image(pixels, QImage::Format_RGB32);
    if (image.isNull())
        return std::nullopt;
    image.setDevicePixelRatio(scale);
    image.fill(Palette::color(Palette::windowBackground, ColorScheme::dark));
    {
        QPainter painter(&image);
        LedgerCard{model, colorway}.paint(painter, QRectF(QPointF(0, 0), size), ColorScheme::dark);
    }
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG") || png.isEmpty())
        return std::nullopt;
    return png;
}

} // namespace zq

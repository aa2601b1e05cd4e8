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

constexpr double kLedgerPadding = 25;
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

// Draws the card's parts top to bottom into the content rectangle, each part below the last.
class CardPainter {
public:
    CardPainter(QPainter &painter, const QRectF &content, ColorScheme scheme, Colorway colorway)
        : m_painter(painter), m_scheme(scheme), m_accent(color(LedgerCard::accent(colorway))), m_x(content.left()),
          m_width(content.width()), m_y(content.top())
    {}

    // 1. Header: the brand, and the week in the accent.
    void header(const StatsLedgerContent &model, double height)
    {
        const QRectF header(m_x, m_y, m_width, height);
        drawText(m_painter, header, Qt::AlignLeft | Qt::AlignVCenter, m_fonts.caption, color(Palette::textTertiary),
                 model.brand);
        drawText(m_painter, header, Qt::AlignRight | Qt::AlignVCenter, m_fonts.caption, m_accent, model.weekLabel);
        advance(height);
    }

    // 2. The words spoken.
    void total(const StatsLedgerContent &model, double height)
    {
        const double totalLine = lineHeight(m_fonts.total);
        drawText(m_painter, QRectF(m_x, m_y, m_width, totalLine), Qt::AlignLeft | Qt::AlignVCenter, m_fonts.total,
                 color(Palette::textPrimary), model.wordCount);
        drawText(m_painter, QRectF(m_x, m_y + totalLine + 4, m_width, lineHeight(m_fonts.wordsSpoken)),
                 Qt::AlignLeft | Qt::AlignVCenter, m_fonts.wordsSpoken, color(Palette::textTertiary),
                 QStringLiteral("words spoken"));
        advance(height);
    }

    // 3. The time rows; the reclaimed one in the accent.
    void rows(const StatsLedgerContent &model)
    {
        for (const StatsLedgerContent::Row &row : model.rows) {
            const QRectF line(m_x, m_y, m_width, kRowHeight);
            drawText(m_painter, line, Qt::AlignLeft | Qt::AlignVCenter, m_fonts.rowLabel, color(Palette::textSecondary),
                     row.label);
            drawText(m_painter, line, Qt::AlignRight | Qt::AlignVCenter, m_fonts.rowValue,
                     row.isReclaimed ? m_accent : color(Palette::textPrimary), row.value);
            m_y += kRowHeight;
        }
        advance(0);
    }

    // 4. A bar per day, bottom-aligned, with the day letters under them.
    void chart(const StatsLedgerContent &model, double height)
    {
        const int days = int(model.dailyWords.size());
        const double barWidth = (m_width - kBarSpacing * (days - 1)) / days;
        for (int day = 0; day < days; ++day) {
            const qint64 words = model.dailyWords[std::size_t(day)];
            const double barHeight = StatsPageLayout::barHeight(words, model.dailyWords);
            const double left = m_x + day * (barWidth + kBarSpacing);
            const QRectF bar(left, m_y + StatsPageLayout::chartHeight - barHeight, barWidth, barHeight);
            QPainterPath path;
            path.addRoundedRect(bar, 2, 2);
            m_painter.fillPath(path, words >= 1 ? m_accent : color(Palette::hairline));
            if (day < model.dayLabels.size()) {
                drawText(m_painter,
                         QRectF(left, m_y + StatsPageLayout::chartHeight + 8, barWidth, lineHeight(m_fonts.dayLabel)),
                         Qt::AlignHCenter | Qt::AlignVCenter, m_fonts.dayLabel, color(Palette::textTertiary),
                         model.dayLabels[day]);
            }
        }
        advance(height);
    }

    // 5. Divider.
    void divider()
    {
        m_painter.fillRect(QRectF(m_x, m_y, m_width, 1), color(Palette::hairline));
        advance(1);
    }

    // 6. Footer: the mark, the brand, and the website at the far end.
    void footer(const StatsLedgerContent &model, double height)
    {
        const QRectF footer(m_x, m_y, m_width, height);
        ZepaSymbol mark;
        mark.size = kMarkSize;
        mark.color = m_accent;
        mark.paint(m_painter, QRectF(m_x, footer.center().y() - kMarkSize / 2, kMarkSize, kMarkSize));
        drawText(m_painter, footer.adjusted(kMarkSize + 8, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, m_fonts.caption,
                 color(Palette::textSecondary), model.brand);
        drawText(m_painter, footer, Qt::AlignRight | Qt::AlignVCenter, m_fonts.website, color(Palette::textTertiary),
                 model.website);
    }

    const Fonts &fonts() const { return m_fonts; }

private:
    QColor color(Palette::Token token) const { return Palette::color(token, m_scheme); }
    // Moves below a part of `height` and the spacing after it.
    void advance(double height) { m_y += height + kSpacing; }

    QPainter &m_painter;
    const ColorScheme m_scheme;
    const QColor m_accent;
    const Fonts m_fonts;
    const double m_x;
    const double m_width;
    double m_y;
};

} // namespace

Palette::Token LedgerCard::background(Colorway colorway)
{
    return colorwayBackground(colorway).value_or(Palette::surface);
}

Palette::Token LedgerCard::accent(Colorway colorway)
{
    return colorwayAccent(colorway);
}

double LedgerCard::naturalHeight(std::size_t rowCount)
{
    return heightsFor(Fonts{}, rowCount).content() + 2 * kLedgerPadding;
}

void LedgerCard::paint(QPainter &painter, const QRectF &rect, ColorScheme requested) const
{
    // The colorways with a base of their own are dark in both appearances: light text tokens on them
    // would vanish, so those cards always take the dark values.
    const ColorScheme scheme = colorwayBackground(colorway) ? ColorScheme::dark : requested;

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(rect, kCornerRadius, kCornerRadius);
    painter.fillPath(shape, Palette::color(background(colorway), scheme));
    painter.setClipPath(shape);

    CardPainter card(painter, rect.adjusted(kLedgerPadding, kLedgerPadding, -kLedgerPadding, -kLedgerPadding), scheme,
                     colorway);
    const Heights heights = heightsFor(card.fonts(), model.rows.size());
    card.header(model, heights.header);
    card.total(model, heights.total);
    card.rows(model);
    card.chart(model, heights.chart);
    card.divider();
    card.footer(model, heights.footer);

    // The hairline border, inside the edge.
    painter.setClipping(false);
    strokeInsideEdge(painter, rect, kCornerRadius, Palette::color(Palette::hairline, scheme));
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

#include "menubar/MenuWeekRecap.h"

#include "menubar/MenuCard.h"
#include "menubar/brand/FocusRing.h"
#include "menubar/brand/Metrics.h"
#include "menubar/brand/Typography.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>

namespace zq {

namespace {

QFont valueFont()
{
    QFont font = textFont(textStyle::figure);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0);
    return font;
}

} // namespace

MenuWeekRecap::MenuWeekRecap(QWidget *parent) : QAbstractButton(parent)
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleDescription(QStringLiteral("Opens Stats"));
}

void MenuWeekRecap::setContent(const MenuWeekRecapContent &content)
{
    if (content == m_content)
        return;
    m_content = content;
    setAccessibleName(content.accessibilityText());
    update();
}

qreal MenuWeekRecap::height()
{
    const qreal header = std::max(QFontMetricsF(textFont(textStyle::value)).height(),
                                  QFontMetricsF(textFont(textStyle::figureSmall)).height());
    const qreal figures = QFontMetricsF(valueFont()).height() + 4 + QFontMetricsF(textFont(textStyle::small)).height();
    return std::ceil(13 + header + 8 + figures + 13);
}

QSize MenuWeekRecap::sizeHint() const
{
    return QSize(348, int(height()));
}

void MenuWeekRecap::paint(QPainter &painter, const QRectF &rect, const MenuWeekRecapContent &content,
                          ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    paintMenuCard(painter, rect, Palette::color(Palette::surface, scheme), Palette::color(Palette::hairline, scheme));
    const QRectF inner = rect.adjusted(13, 13, -13, -13);

    const QFont thisWeekFont = textFont(textStyle::value);
    QFont labelFont = textFont(textStyle::figureSmall);
    labelFont.setLetterSpacing(QFont::AbsoluteSpacing, 0);
    const qreal headerHeight = std::max(QFontMetricsF(thisWeekFont).height(), QFontMetricsF(labelFont).height());
    painter.setFont(thisWeekFont);
    painter.setPen(Palette::color(Palette::textSecondary, scheme));
    painter.drawText(QRectF(inner.left(), inner.top(), inner.width(), headerHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("This week"));
    painter.setFont(labelFont);
    painter.setPen(Palette::color(Palette::textTertiary, scheme));
    painter.drawText(QRectF(inner.left(), inner.top(), inner.width(), headerHeight), Qt::AlignRight | Qt::AlignVCenter,
                     content.weekLabel);

    // One column per figure, sharing the row equally, 25 points apart.
    const qsizetype count = std::max<qsizetype>(1, content.lines.size());
    const qreal columnWidth = (inner.width() - 25.0 * qreal(count - 1)) / qreal(count);
    const QFont value = valueFont();
    const QFont caption = textFont(textStyle::small);
    const qreal valueHeight = QFontMetricsF(value).height();
    const qreal top = inner.top() + headerHeight + 8;
    for (qsizetype i = 0; i < content.lines.size(); ++i) {
        const qreal left = inner.left() + qreal(i) * (columnWidth + 25);
        QFont fitted = value;
        // Shrinks down to 0.8 of its size before it is cut.
        const qreal natural = QFontMetricsF(value).horizontalAdvance(content.lines[i].value);
        if (natural > columnWidth)
            fitted.setPixelSize(std::max(int(13 * 0.8), int(13 * columnWidth / natural)));
        painter.setFont(fitted);
        painter.setPen(Palette::color(Palette::accent, scheme));
        painter.drawText(QRectF(left, top, columnWidth, valueHeight), Qt::AlignLeft | Qt::AlignVCenter,
                         QFontMetricsF(fitted).elidedText(content.lines[i].value, Qt::ElideRight, columnWidth));
        painter.setFont(caption);
        painter.setPen(Palette::color(Palette::textTertiary, scheme));
        painter.drawText(QRectF(left, top + valueHeight + 4, columnWidth, QFontMetricsF(caption).height()),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         QFontMetricsF(caption).elidedText(content.lines[i].label, Qt::ElideRight, columnWidth));
    }
    painter.restore();
}

void MenuWeekRecap::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paint(painter, rect(), m_content, colorSchemeOf(*this));
    if (showsFocusRing(*this))
        paintFocusRing(painter, rect(), Metrics::kCardRadius, colorSchemeOf(*this));
}

} // namespace zq

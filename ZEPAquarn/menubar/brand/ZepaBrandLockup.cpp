#include "menubar/brand/ZepaBrandLockup.h"

#include "menubar/brand/Typography.h"
#include "menubar/brand/ZepaSymbol.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace zq {

namespace {

constexpr qreal kRingSide = 25;
constexpr qreal kRowSpacing = 8;
constexpr qreal kWordmarkHeight = 12;
constexpr qreal kColumnSpacing = 2;

// The word ZEPA as outlines of the brand face, with its box from the cap top to the baseline.
struct Wordmark {
    QPainterPath path;
    QRectF box;
};

const Wordmark &wordmark()
{
    static const Wordmark mark = [] {
        QFont font = textFont(textStyle::figure.withSize(100).withWeight(QFont::Medium));
        font.setLetterSpacing(QFont::AbsoluteSpacing, 4);
        QPainterPath path;
        path.addText(0, 0, font, QStringLiteral("ZEPA"));
        const QRectF ink = path.boundingRect();
        return Wordmark{path, QRectF(ink.left(), ink.top(), ink.width(), -ink.top())};
    }();
    return mark;
}

QFont productFont()
{
    return textFont(textStyle::caption);
}

QString productWord()
{
    return QStringLiteral("QUARN");
}

} // namespace

void paintZepaRing(QPainter &painter, const QRectF &rect, const QColor &color)
{
    ZepaSymbol ring;
    ring.size = std::min(rect.width(), rect.height());
    ring.color = color;
    ring.paint(painter, rect);
}

qreal zepaWordmarkAspect()
{
    const QRectF box = wordmark().box;
    return box.height() > 0 ? box.width() / box.height() : 0;
}

qreal paintZepaWordmark(QPainter &painter, QPointF leftCentre, qreal height, const QColor &color)
{
    const Wordmark &mark = wordmark();
    if (mark.box.height() <= 0)
        return 0;
    const qreal scale = height / mark.box.height();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(leftCentre.x() - mark.box.left() * scale, leftCentre.y() + height / 2);
    painter.scale(scale, scale);
    painter.fillPath(mark.path, color);
    painter.restore();
    return mark.box.width() * scale;
}

QSizeF ZepaBrandLockup::idealSize()
{
    const QFontMetricsF product(productFont());
    const qreal columnWidth =
        std::max(kWordmarkHeight * zepaWordmarkAspect(), product.horizontalAdvance(productWord()));
    const qreal columnHeight = kWordmarkHeight + kColumnSpacing + product.height();
    return {std::ceil(kRingSide + kRowSpacing + columnWidth), std::ceil(std::max(kRingSide, columnHeight))};
}

void ZepaBrandLockup::paint(QPainter &painter, const QRectF &rect, ColorScheme scheme)
{
    const QSizeF size = idealSize();
    const QFont font = productFont();
    const QFontMetricsF product(font);
    const qreal centreY = rect.top() + size.height() / 2;
    const QColor accent = Palette::color(Palette::accent, scheme);

    paintZepaRing(painter, QRectF(rect.left(), centreY - kRingSide / 2, kRingSide, kRingSide), accent);

    const qreal columnLeft = rect.left() + kRingSide + kRowSpacing;
    const qreal columnTop = centreY - (kWordmarkHeight + kColumnSpacing + product.height()) / 2;
    paintZepaWordmark(painter, QPointF(columnLeft, columnTop + kWordmarkHeight / 2), kWordmarkHeight,
                      Palette::color(Palette::textPrimary, scheme));
    painter.save();
    painter.setFont(font);
    painter.setPen(accent);
    painter.drawText(QPointF(columnLeft, columnTop + kWordmarkHeight + kColumnSpacing + product.ascent()),
                     productWord());
    painter.restore();
}

ZepaBrandLockupView::ZepaBrandLockupView(QWidget *parent) : QWidget(parent)
{
    setAccessibleName(QStringLiteral("ZEPA QUARN"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFixedSize(sizeHint());
}

QSize ZepaBrandLockupView::sizeHint() const
{
    return ZepaBrandLockup::idealSize().toSize();
}

void ZepaBrandLockupView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    ZepaBrandLockup::paint(painter, QRectF(rect()), colorSchemeOf(*this));
}

} // namespace zq

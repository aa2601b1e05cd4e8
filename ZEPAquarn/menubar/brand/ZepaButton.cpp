#include "menubar/brand/ZepaButton.h"

#include "menubar/brand/ControlWell.h"
#include "menubar/brand/FocusRing.h"
#include "menubar/brand/Metrics.h"
#include "menubar/brand/SymbolCatalogue.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace zq {

namespace {

constexpr qreal kCornerRadius = 8;
constexpr qreal kPressedScale = 0.985;
constexpr qreal kSymbolSpacing = 6;

qreal symbolSide(const QFont &font)
{
    return std::round(QFontMetricsF(font).ascent() * 0.95);
}

qreal labelWidth(const ZepaButtonLabel &label)
{
    const QFontMetricsF metrics(label.font);
    qreal width = metrics.horizontalAdvance(label.text);
    if (!label.systemImage.isEmpty())
        width += symbolSide(label.font) + (label.text.isEmpty() ? 0 : kSymbolSpacing);
    return width;
}

} // namespace

ZepaButtonLook zepaButtonLook(ZepaButtonStyle style, bool success, bool pressed, ColorScheme scheme)
{
    const auto color = [scheme](Palette::Token token) { return Palette::color(token, scheme); };
    switch (style) {
    case ZepaButtonStyle::primary:
        return {color(success ? Palette::onAccent : Palette::onBrand),
                color(success ? Palette::success : Palette::brandGreen),
                std::nullopt,
                30,
                13,
                pressed ? kPressedScale : 1.0,
                pressed ? 0.9 : 1.0};
    case ZepaButtonStyle::quiet:
        return {color(success ? Palette::success : Palette::textSecondary),
                color(success ? Palette::accentWash : Palette::controlFill),
                color(Palette::hairline),
                28,
                8,
                pressed ? kPressedScale : 1.0,
                1.0};
    }
    return {};
}

QSizeF zepaButtonSize(ZepaButtonStyle style, const ZepaButtonLabel &label)
{
    const ZepaButtonLook look = zepaButtonLook(style, false, false, ColorScheme::light);
    return {std::ceil(labelWidth(label) + 2 * look.horizontalPadding), look.height};
}

void paintZepaButton(QPainter &painter, const QRectF &rect, ZepaButtonStyle style, const ZepaButtonLabel &label,
                     bool success, bool pressed, ColorScheme scheme, bool enabled)
{
    if (!enabled) {
        // Faded as one layer: fading each stroke would let the fill show through the border and
        // the label.
        const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
        QImage layer((rect.size() * ratio).toSize().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
        layer.setDevicePixelRatio(ratio);
        layer.fill(Qt::transparent);
        {
            QPainter layerPainter(&layer);
            layerPainter.translate(-rect.topLeft());
            paintZepaButton(layerPainter, rect, style, label, success, pressed, scheme);
        }
        painter.save();
        // Drawn whole at the disabled opacity, so the user sees that clicking it does nothing.
        painter.setOpacity(painter.opacity() * Metrics::kDisabledOpacity);
        painter.drawImage(rect.topLeft(), layer);
        painter.restore();
        return;
    }
    const ZepaButtonLook look = zepaButtonLook(style, success, pressed, scheme);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(painter.opacity() * look.opacity);
    painter.translate(rect.center());
    painter.scale(look.scale, look.scale);
    painter.translate(-rect.center());

    QPainterPath shape;
    shape.addRoundedRect(rect, kCornerRadius, kCornerRadius);
    painter.fillPath(shape, look.fill);
    if (look.border)
        strokeInsideEdge(painter, rect, kCornerRadius, *look.border);

    // The label, centred: symbol, then text.
    const QFontMetricsF metrics(label.font);
    qreal x = rect.center().x() - labelWidth(label) / 2;
    const qreal centreY = rect.center().y();
    if (!label.systemImage.isEmpty()) {
        const qreal side = symbolSide(label.font);
        SymbolCatalogue::paint(painter, QRectF(x, centreY - side / 2, side, side), label.systemImage, look.text);
        x += side + kSymbolSpacing;
    }
    painter.setFont(label.font);
    painter.setPen(look.text);
    painter.drawText(QPointF(x, centreY - (metrics.ascent() + metrics.descent()) / 2 + metrics.ascent()), label.text);
    painter.restore();
}

ZepaButton::ZepaButton(ZepaButtonStyle style, const QString &text, const QString &systemImage, QWidget *parent)
    : QAbstractButton(parent), m_style(style), m_systemImage(systemImage)
{
    setText(text);
    setAccessibleName(text);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setCursor(Qt::ArrowCursor);
}

void ZepaButton::setSuccess(bool success)
{
    if (success == m_success)
        return;
    m_success = success;
    update();
}

void ZepaButton::setSystemImage(const QString &name)
{
    m_systemImage = name;
    updateGeometry();
    update();
}

ZepaButtonLabel ZepaButton::label() const
{
    return {text(), m_systemImage, font()};
}

QSize ZepaButton::sizeHint() const
{
    return zepaButtonSize(m_style, label()).toSize();
}

void ZepaButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintZepaButton(painter, QRectF(rect()), m_style, label(), m_success, isDown(), colorSchemeOf(*this), isEnabled());
    if (showsFocusRing(*this))
        paintFocusRing(painter, QRectF(rect()), kCornerRadius, colorSchemeOf(*this));
}

} // namespace zq

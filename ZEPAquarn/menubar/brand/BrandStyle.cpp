#include "menubar/brand/BrandStyle.h"

#include "menubar/brand/ControlWell.h"
#include "menubar/brand/FocusRing.h"
#include "menubar/brand/Metrics.h"
#include "menubar/brand/SymbolCatalogue.h"
#include "menubar/brand/ZepaButton.h"
#include "menubar/brand/ZepaMenu.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QStyleFactory>
#include <QStyleOption>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace zq {

namespace {

constexpr int kScrollThumbMinimum = 28;
// The thumb's thickness at rest and while the pointer is on the bar; it keeps off the bar's edges.
constexpr qreal kThumbThickness = 6;
constexpr qreal kThumbHoverThickness = 8;
constexpr int kFieldTextInset = 10;
constexpr int kMinimumButtonWidth = 64;

// The part of a scroll bar, in the bar's own rectangle: no arrow buttons, so the thumb runs the whole
// length and the pages lie before and after it.
QRect scrollBarPart(const QStyleOptionSlider &bar, QStyle::SubControl part)
{
    const bool horizontal = bar.orientation == Qt::Horizontal;
    const QRect whole = bar.rect;
    const int length = horizontal ? whole.width() : whole.height();
    const qint64 range = qint64(bar.maximum) - bar.minimum;
    int thumb = length;
    if (range > 0) {
        const qint64 proportional = qint64(length) * bar.pageStep / (range + std::max(1, bar.pageStep));
        thumb = int(std::clamp<qint64>(proportional, std::min(kScrollThumbMinimum, length), length));
    }
    const int start =
        QStyle::sliderPositionFromValue(bar.minimum, bar.maximum, bar.sliderPosition, length - thumb, bar.upsideDown);
    const auto along = [&](int from, int extent) {
        return horizontal ? QRect(whole.left() + from, whole.top(), extent, whole.height())
                          : QRect(whole.left(), whole.top() + from, whole.width(), extent);
    };
    switch (part) {
    case QStyle::SC_ScrollBarSlider:
        return along(start, thumb);
    case QStyle::SC_ScrollBarSubPage:
        return along(0, start);
    case QStyle::SC_ScrollBarAddPage:
        return along(start + thumb, length - start - thumb);
    case QStyle::SC_ScrollBarGroove:
        return whole;
    default:
        return {};
    }
}

void paintScrollBar(QPainter &painter, const QStyleOptionSlider &bar)
{
    if (bar.maximum <= bar.minimum)
        return;
    const ColorScheme scheme = colorSchemeOf(bar.palette);
    const bool hovered = bar.state & QStyle::State_MouseOver;
    const bool dragged = (bar.activeSubControls & QStyle::SC_ScrollBarSlider) && (bar.state & QStyle::State_Sunken);
    const qreal thickness = hovered || dragged ? kThumbHoverThickness : kThumbThickness;
    QRectF thumb = scrollBarPart(bar, QStyle::SC_ScrollBarSlider);
    if (bar.orientation == Qt::Horizontal) {
        thumb.setTop(bar.rect.bottom() + 1 - 1 - thickness);
        thumb.setHeight(thickness);
        thumb.adjust(2, 0, -2, 0);
    } else {
        thumb.setLeft(bar.rect.right() + 1 - 1 - thickness);
        thumb.setWidth(thickness);
        thumb.adjust(0, 2, 0, -2);
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    // At rest the tertiary text colour (3:1 against the page in both schemes); brighter when reached.
    painter.setBrush(Palette::color(hovered || dragged ? Palette::textSecondary : Palette::textTertiary, scheme));
    painter.drawRoundedRect(thumb, thickness / 2, thickness / 2);
    painter.restore();
}

ZepaButtonStyle pushButtonStyle(const QStyleOptionButton &button)
{
    return button.features & QStyleOptionButton::DefaultButton ? ZepaButtonStyle::primary : ZepaButtonStyle::quiet;
}

QFont buttonFont(const QWidget *widget, const QPainter *painter)
{
    return widget ? widget->font() : painter->font();
}

bool isFramedField(const QStyleOption *option)
{
    const auto *frame = qstyleoption_cast<const QStyleOptionFrame *>(option);
    return frame && frame->lineWidth > 0;
}

// A toolkit menu's entry as the brand menu draws it: its text and its shortcut, which the menu
// hands over after a tab.
struct MenuItemText {
    QString text;
    QString shortcut;
};

MenuItemText menuItemText(const QStyleOptionMenuItem &item)
{
    const qsizetype tab = item.text.indexOf(QLatin1Char('\t'));
    if (tab < 0)
        return {item.text, {}};
    return {item.text.left(tab), item.text.mid(tab + 1)};
}

constexpr int kMenuSeparatorHeight = 9;
constexpr qreal kMenuSeparatorInset = 10;

void paintMenuItem(QPainter &painter, const QStyleOptionMenuItem &item)
{
    const ColorScheme scheme = colorSchemeOf(item.palette);
    const QRectF rect(item.rect);
    painter.fillRect(rect, Palette::color(Palette::surfaceRaised, scheme));
    if (item.menuItemType == QStyleOptionMenuItem::Separator) {
        const qreal y = std::floor(rect.center().y());
        painter.fillRect(QRectF(rect.left() + kMenuSeparatorInset, y, rect.width() - 2 * kMenuSeparatorInset, 1),
                         Palette::color(Palette::hairline, scheme));
        return;
    }
    const MenuItemText text = menuItemText(item);
    const bool enabled = item.state & QStyle::State_Enabled;
    QIcon icon = item.icon;
    if (icon.isNull() && item.checkType != QStyleOptionMenuItem::NotCheckable && item.checked)
        icon = QIcon(SymbolCatalogue::pixmap(QStringLiteral("checkmark"), QSizeF(14, 14),
                                             Palette::color(Palette::textPrimary, scheme),
                                             painter.device()->devicePixelRatioF()));
    ZepaMenu::paintRow(painter, rect, {text.text, icon, false},
                       {bool(item.state & QStyle::State_Selected), enabled, text.shortcut}, scheme);
}

} // namespace

BrandStyle::BrandStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

void BrandStyle::polish(QApplication *application)
{
    QProxyStyle::polish(application);
    application->installEventFilter(&m_focusVisibility);
}

void BrandStyle::unpolish(QApplication *application)
{
    application->removeEventFilter(&m_focusVisibility);
    QProxyStyle::unpolish(application);
}

void BrandStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                               const QWidget *widget) const
{
    switch (element) {
    case PE_FrameFocusRect:
        // Controls draw the brand's ring themselves.
        return;
    case PE_FrameLineEdit:
        return;
    case PE_PanelMenu:
        // The menus of the toolkit (the tray's, History's) wear the brand menu's surface and border.
        ZepaMenu::paintFrame(*painter, QRectF(option->rect), colorSchemeOf(option->palette));
        return;
    case PE_FrameMenu: {
        painter->save();
        painter->setPen(QPen(Palette::color(Palette::hairline, colorSchemeOf(option->palette)), 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5));
        painter->restore();
        return;
    }
    case PE_PanelLineEdit:
        if (!isFramedField(option))
            return; // frameless: the well it sits in shows through
        paintControlWell(*painter, QRectF(option->rect), colorSchemeOf(option->palette), Metrics::kControlRadius);
        if (option->state & State_HasFocus)
            paintFocusRing(*painter, QRectF(option->rect), Metrics::kControlRadius, colorSchemeOf(option->palette));
        return;
    default:
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
}

void BrandStyle::drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                             const QWidget *widget) const
{
    if (element == CE_MenuItem) {
        if (const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option)) {
            paintMenuItem(*painter, *item);
            return;
        }
    }
    if (element == CE_MenuEmptyArea) {
        painter->fillRect(option->rect, Palette::color(Palette::surfaceRaised, colorSchemeOf(option->palette)));
        return;
    }
    const auto *button = qstyleoption_cast<const QStyleOptionButton *>(option);
    if (element != CE_PushButton || !button || (button->features & QStyleOptionButton::Flat)) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    const ZepaButtonStyle style = pushButtonStyle(*button);
    const ZepaButtonLabel label{button->text, {}, buttonFont(widget, painter)};
    const ColorScheme scheme = colorSchemeOf(button->palette);
    const qreal height = zepaButtonLook(style, false, false, scheme).height;
    // Centred on whole pixels: a button laid out as tall as it draws fills its rectangle exactly, so no
    // edge row of it falls outside the widget.
    const QRectF rect(button->rect.left(), button->rect.top() + std::floor((button->rect.height() - height) / 2),
                      button->rect.width(), height);
    paintZepaButton(*painter, rect, style, label, false, button->state & State_Sunken, scheme,
                    button->state & State_Enabled);
    if ((button->state & State_HasFocus) && (button->state & State_KeyboardFocusChange))
        paintFocusRing(*painter, rect, Metrics::kControlRadius, scheme);
}

void BrandStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                                    const QWidget *widget) const
{
    if (control == CC_ScrollBar) {
        if (const auto *bar = qstyleoption_cast<const QStyleOptionSlider *>(option))
            paintScrollBar(*painter, *bar);
        return;
    }
    if (control == CC_ToolButton && (option->state & State_HasFocus)) {
        const bool ring = option->state & State_KeyboardFocusChange;
        // The toolkit's button without its focus frame, then the ring.
        if (const auto *tool = qstyleoption_cast<const QStyleOptionToolButton *>(option)) {
            QStyleOptionToolButton unfocused = *tool;
            unfocused.state &= ~State_HasFocus;
            QProxyStyle::drawComplexControl(control, &unfocused, painter, widget);
            if (ring)
                paintFocusRing(*painter, QRectF(option->rect), Metrics::kControlRadius, colorSchemeOf(option->palette));
            return;
        }
    }
    QProxyStyle::drawComplexControl(control, option, painter, widget);
}

QRect BrandStyle::subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl subControl,
                                 const QWidget *widget) const
{
    if (control == CC_ScrollBar) {
        if (const auto *bar = qstyleoption_cast<const QStyleOptionSlider *>(option))
            return scrollBarPart(*bar, subControl);
    }
    return QProxyStyle::subControlRect(control, option, subControl, widget);
}

QRect BrandStyle::subElementRect(SubElement element, const QStyleOption *option, const QWidget *widget) const
{
    if (element == SE_LineEditContents && isFramedField(option))
        return option->rect.adjusted(kFieldTextInset, 0, -kFieldTextInset, 0);
    return QProxyStyle::subElementRect(element, option, widget);
}

int BrandStyle::pixelMetric(PixelMetric metric, const QStyleOption *option, const QWidget *widget) const
{
    switch (metric) {
    case PM_ScrollBarExtent:
        return kScrollBarExtent;
    case PM_ScrollBarSliderMin:
        return kScrollThumbMinimum;
    case PM_MenuPanelWidth:
        return 1;
    case PM_MenuHMargin:
        return 0;
    case PM_MenuVMargin:
        return ZepaMenu::kPaddingY - 1;
    default:
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
}

QSize BrandStyle::sizeFromContents(ContentsType type, const QStyleOption *option, const QSize &size,
                                   const QWidget *widget) const
{
    if (type == CT_PushButton) {
        const auto *button = qstyleoption_cast<const QStyleOptionButton *>(option);
        if (button && !(button->features & QStyleOptionButton::Flat)) {
            const ZepaButtonStyle style = pushButtonStyle(*button);
            const QSizeF brand = zepaButtonSize(style, {button->text, {}, widget ? widget->font() : QFont()});
            return {std::max(kMinimumButtonWidth, int(brand.width())), int(brand.height())};
        }
    }
    if (type == CT_MenuItem) {
        if (const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option)) {
            if (item->menuItemType == QStyleOptionMenuItem::Separator)
                return {size.width(), kMenuSeparatorHeight};
            const MenuItemText text = menuItemText(*item);
            return {int(ZepaMenu::rowWidth(text.text, text.shortcut)), ZepaMenu::kRowHeight};
        }
    }
    if (type == CT_LineEdit && isFramedField(option))
        return {size.width() + 2 * kFieldTextInset, kFieldHeight};
    return QProxyStyle::sizeFromContents(type, option, size, widget);
}

} // namespace zq

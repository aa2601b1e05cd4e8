#include "menubar/brand/ZepaMenuPicker.h"

#include "menubar/brand/FocusRing.h"
#include "menubar/brand/Motion.h"
#include "menubar/brand/SymbolCatalogue.h"
#include "menubar/brand/Typography.h"
#include "menubar/brand/ZepaMenu.h"
#include "menubar/brand/ZepaMenuPickerAccessible.h"

#include <QAccessible>
#include <QApplication>
#include <QCursor>
#include <QEnterEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <algorithm>

namespace zq {

namespace {

constexpr qreal kLeadingPadding = 10;
constexpr qreal kTrailingPadding = 8;
constexpr qreal kSpacing = 8;
constexpr qreal kLeadingSymbolFrame = 14;
constexpr qreal kLeadingSymbolSize = 11;
constexpr qreal kChevronSize = 9;
constexpr qreal kPickerCornerRadius = 8;
constexpr qreal kPickerLabelSize = 12;
constexpr TimingCurve kHoverCurve{motion::standard, motion::pickerHover};

QString chooseText()
{
    return QStringLiteral("Choose…");
}

// Screen readers hear that the menu came under the field (`change` ObjectCreated) or left it
// (ObjectDestroyed: it is deleted once closed), and that the field expanded or collapsed.
void notifyMenu(ZepaMenuPicker *picker, ZepaMenu *menu, QAccessible::Event change)
{
    if (!QAccessible::isActive())
        return;
    QAccessibleEvent child(menu, change);
    QAccessible::updateAccessibility(&child);
    QAccessible::State changed;
    changed.expanded = true;
    changed.collapsed = true;
    QAccessibleStateChangeEvent state(picker, changed);
    QAccessible::updateAccessibility(&state);
}

QColor mix(const QColor &from, const QColor &to, double t)
{
    const auto lerp = [t](float a, float b) { return a + (b - a) * float(t); };
    QColor mixed;
    mixed.setRgbF(lerp(from.redF(), to.redF()), lerp(from.greenF(), to.greenF()), lerp(from.blueF(), to.blueF()),
                  lerp(from.alphaF(), to.alphaF()));
    return mixed;
}

} // namespace

ZepaMenuPicker::ZepaMenuPicker(QString title, ZepaMenuPickerBinding selection, QList<ZepaMenuPickerSection> sections,
                               qreal width, QString leadingSystemImage, bool compact, QWidget *parent)
    : QWidget(parent), m_title(std::move(title)), m_selection(std::move(selection)), m_sections(std::move(sections)),
      m_leadingSystemImage(std::move(leadingSystemImage)), m_compact(compact), m_hover(*this, kHoverCurve)
{
    // Before the field names itself: Qt keeps the first description it makes of a widget.
    installZepaMenuPickerAccessibility();
    setAccessibleName(m_title);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFixedSize(QSizeF(width, compact ? kCompactHeight : kHeight).toSize());
}

void ZepaMenuPicker::setSections(QList<ZepaMenuPickerSection> sections)
{
    m_sections = std::move(sections);
    update();
}

std::optional<ZepaMenuPickerOption> ZepaMenuPicker::currentOption() const
{
    const QVariant value = m_selection.get ? m_selection.get() : QVariant();
    for (const ZepaMenuPickerSection &section : m_sections) {
        for (const ZepaMenuPickerOption &option : section.options) {
            if (option.value == value)
                return option;
        }
    }
    return std::nullopt;
}

QString ZepaMenuPicker::currentLabel() const
{
    const auto current = currentOption();
    return current ? current->label : chooseText();
}

QSize ZepaMenuPicker::sizeHint() const
{
    return size();
}

void ZepaMenuPicker::paintField(QPainter &painter, const QRectF &rect, const ZepaMenuPickerField &field)
{
    const ColorScheme scheme = field.scheme;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (!field.enabled)
        painter.setOpacity(painter.opacity() * 0.5);

    // Background, then the border drawn inside the same rounded rectangle.
    QPainterPath shape;
    shape.addRoundedRect(rect, kPickerCornerRadius, kPickerCornerRadius);
    painter.fillPath(shape, mix(Palette::color(Palette::controlFill, scheme),
                                Palette::color(Palette::controlHover, scheme), std::clamp(field.hover, 0.0, 1.0)));
    const qreal border = field.focused ? 2 : 1;
    const QRectF inner = rect.adjusted(border / 2, border / 2, -border / 2, -border / 2);
    painter.setPen(QPen(Palette::color(field.focused ? Palette::focus : Palette::hairline, scheme), border));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(inner, kPickerCornerRadius - border / 2, kPickerCornerRadius - border / 2);

    const qreal centreY = rect.center().y();
    qreal x = rect.left() + kLeadingPadding;
    if (!field.leadingSystemImage.isEmpty()) {
        const QRectF frame(x, centreY - kLeadingSymbolSize / 2, kLeadingSymbolFrame, kLeadingSymbolSize);
        SymbolCatalogue::paint(painter, frame, field.leadingSystemImage, Palette::color(Palette::accent, scheme));
        x += kLeadingSymbolFrame + kSpacing;
    }

    const qreal chevronLeft = rect.right() - kTrailingPadding - kChevronSize;
    SymbolCatalogue::paint(painter, QRectF(chevronLeft, centreY - kChevronSize / 2, kChevronSize, kChevronSize),
                           u"chevron.down", Palette::color(Palette::textTertiary, scheme));

    const QFont font = textFont(textStyle::figureValue.withSize(kPickerLabelSize));
    const QFontMetricsF metrics(font);
    const qreal available = std::max<qreal>(0, chevronLeft - kSpacing - x);
    const QString text = metrics.elidedText(field.label, Qt::ElideRight, available);
    painter.setFont(font);
    painter.setPen(Palette::color(Palette::textPrimary, scheme));
    painter.drawText(QPointF(x, centreY - (metrics.ascent() + metrics.descent()) / 2 + metrics.ascent()), text);
    painter.restore();
}

void ZepaMenuPicker::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    ZepaMenuPickerField field;
    field.label = currentLabel();
    field.leadingSystemImage = m_leadingSystemImage;
    field.compact = m_compact;
    field.hover = m_hover.progress();
    field.focused = showsFocusRing(*this);
    field.enabled = isEnabled();
    field.scheme = colorSchemeOf(*this);
    paintField(painter, QRectF(rect()), field);
}

void ZepaMenuPicker::enterEvent(QEnterEvent *event)
{
    m_hover.setHovering(true);
    QWidget::enterEvent(event);
}

void ZepaMenuPicker::leaveEvent(QEvent *event)
{
    m_hover.setHovering(false);
    QWidget::leaveEvent(event);
}

void ZepaMenuPicker::focusInEvent(QFocusEvent *event)
{
    update();
    QWidget::focusInEvent(event);
}

void ZepaMenuPicker::focusOutEvent(QFocusEvent *event)
{
    update();
    QWidget::focusOutEvent(event);
}

void ZepaMenuPicker::mousePressEvent(QMouseEvent *event)
{
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), kPickerCornerRadius, kPickerCornerRadius);
    if (event->button() == Qt::LeftButton && shape.contains(event->position())) {
        openMenu();
        return;
    }
    QWidget::mousePressEvent(event);
}

void ZepaMenuPicker::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Down:
        openMenu();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

ZepaMenu *ZepaMenuPicker::buildMenu()
{
    if (m_menu)
        m_menu->deleteLater();
    auto *menu = new ZepaMenu(this);
    menu->setAccessibleName(m_title);
    const ColorScheme scheme = colorSchemeOf(*this);
    const QColor ink = Palette::color(Palette::textPrimary, scheme);
    const auto current = currentOption();
    const qreal ratio = devicePixelRatioF();
    for (const ZepaMenuPickerSection &section : m_sections) {
        if (section.title)
            menu->addSection(*section.title);
        for (const ZepaMenuPickerOption &option : section.options) {
            const bool isCurrent = current && current->value == option.value;
            const QString symbol = isCurrent ? QStringLiteral("checkmark") : option.systemImage;
            QAction *action = menu->addOption(
                option.label, symbol.isEmpty() ? QIcon() : SymbolCatalogue::pixmap(symbol, QSizeF(14, 14), ink, ratio));
            action->setCheckable(isCurrent);
            action->setChecked(isCurrent);
            action->setData(option.value);
            const QVariant value = option.value;
            connect(action, &QAction::triggered, this, [this, value] { choose(value); });
        }
    }
    // Before it takes the focus, so a reader finds it under the field.
    connect(menu, &ZepaMenu::opened, this, [this, menu] { notifyMenu(this, menu, QAccessible::ObjectCreated); });
    // Once the menu's window is gone, where the pointer rests decides the hover again.
    connect(menu, &ZepaMenu::closed, this, [this, menu] {
        notifyMenu(this, menu, QAccessible::ObjectDestroyed);
        QTimer::singleShot(0, this, [this] {
            followPointer();
            emit menuClosed();
        });
    });
    m_menu = menu;
    return menu;
}

void ZepaMenuPicker::openMenu()
{
    if (!isEnabled())
        return;
    ZepaMenu *menu = buildMenu();
    // The pointer now rests on the menu, not on the field.
    m_hover.setHovering(false);
    menu->popup(QRect(mapToGlobal(QPoint(0, 0)), size()));
}

void ZepaMenuPicker::followPointer()
{
    QWidget *under = QApplication::widgetAt(QCursor::pos());
    m_hover.setHovering(isVisible() && under && (under == this || isAncestorOf(under)));
}

qreal ZepaMenuPicker::fittingWidth(const QStringList &labels, bool leadingSymbol)
{
    const QFontMetricsF metrics(textFont(textStyle::figureValue.withSize(kPickerLabelSize)));
    qreal widest = 0;
    for (const QString &label : labels)
        widest = std::max(widest, metrics.horizontalAdvance(label));
    const qreal leading = leadingSymbol ? kLeadingSymbolFrame + kSpacing : 0;
    return std::ceil(kLeadingPadding + leading + widest + kSpacing + kChevronSize + kTrailingPadding);
}

void ZepaMenuPicker::choose(const QVariant &value)
{
    if (m_selection.set)
        m_selection.set(value);
    update();
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, currentLabel());
        QAccessible::updateAccessibility(&event);
    }
}

} // namespace zq

#include "window/AppSidebar.h"

#include "menubar/brand/FocusRing.h"
#include "menubar/brand/Metrics.h"
#include "menubar/brand/SymbolCatalogue.h"
#include "menubar/brand/Text.h"
#include "menubar/brand/Typography.h"
#include "menubar/brand/ZepaBrandLockup.h"
#include "window/AppSidebarAccessible.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace zq {

namespace {

constexpr qreal kWidth = 210;
constexpr qreal kLockupTop = 10;
constexpr qreal kRowHeight = 44;
constexpr qreal kRowSpacing = 4;
constexpr qreal kRowInset = 10;
constexpr qreal kDot = 7;

QSizeF lockupSize()
{
    return ZepaBrandLockup::idealSize();
}

QFont captionFont()
{
    return textFont(textStyle::small);
}

QFont versionFont()
{
    return textFont(textStyle::figureSmall);
}

// The caption's two lines and the 16 around them.
qreal captionHeight()
{
    return 16 + QFontMetricsF(captionFont()).height() + 4 + QFontMetricsF(versionFont()).height() + 16;
}

qreal rowsHeight()
{
    const auto rows = qreal(allAppWindowSections.size());
    return rows * kRowHeight + (rows - 1) * kRowSpacing;
}

// The rows start 28 under the lockup. On a short screen (a scaled desktop can leave the window under
// its minimum height) that gap gives way first, down to 8, so the last row keeps clear of the caption.
qreal rowsTop(qreal sidebarHeight)
{
    const qreal lockupBottom = kLockupTop + lockupSize().height();
    const qreal room = sidebarHeight - captionHeight() - rowsHeight() - lockupBottom;
    return lockupBottom + std::clamp<qreal>(room, 8, 28);
}

} // namespace

QRectF sidebarRowRect(const QRectF &sidebar, int index)
{
    return QRectF(sidebar.left() + kRowInset,
                  sidebar.top() + rowsTop(sidebar.height()) + index * (kRowHeight + kRowSpacing),
                  kWidth - 2 * kRowInset, kRowHeight);
}

bool sidebarShowsCaption(const QRectF &sidebar)
{
    const QRectF last = sidebarRowRect(sidebar, int(allAppWindowSections.size()) - 1);
    return last.bottom() <= sidebar.bottom() - captionHeight();
}

std::optional<AppWindowSection> sidebarSectionAt(const QRectF &sidebar, QPointF point)
{
    for (size_t i = 0; i < allAppWindowSections.size(); ++i) {
        if (sidebarRowRect(sidebar, int(i)).contains(point))
            return allAppWindowSections[i];
    }
    return std::nullopt;
}

QRectF sidebarDotRect(const QRectF &row, int dot)
{
    const qreal right = row.right() - 13 - (1 - dot) * (kDot + 4);
    return QRectF(right - kDot, row.center().y() - kDot / 2, kDot, kDot);
}

void paintSidebar(QPainter &painter, const QRectF &rect, const SidebarInputs &inputs, ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const auto color = [scheme](Palette::Token token) { return Palette::color(token, scheme); };

    // The panel: a raised surface in a rounded rectangle, outlined inside its edge.
    QPainterPath panel;
    panel.addRoundedRect(strokedRect(rect), 20, 20);
    painter.fillPath(panel, color(Palette::surfaceRaised));
    painter.setPen(QPen(color(Palette::hairline), 1));
    painter.drawPath(panel);

    ZepaBrandLockup::paint(painter, QRectF(QPointF(rect.left() + 16, rect.top() + kLockupTop), lockupSize()), scheme);

    for (size_t i = 0; i < allAppWindowSections.size(); ++i) {
        const AppWindowSection section = allAppWindowSections[i];
        const QRectF row = sidebarRowRect(rect, int(i));
        const bool selected = section == inputs.selection;
        if (selected) {
            QPainterPath wash;
            wash.addRoundedRect(row, 8, 8);
            painter.fillPath(wash, color(Palette::accentWash));
            if (inputs.focused)
                paintFocusRing(painter, row, 8, scheme);
        }
        const QColor ink = color(selected ? Palette::textPrimary : Palette::textSecondary);
        // The 12-point symbol in its 16-wide frame, on whole pixels.
        const qreal box = SymbolCatalogue::boxForPointSize(12);
        SymbolCatalogue::paint(
            painter,
            QRectF(std::round(row.left() + 13 + (16 - box) / 2), std::round(row.center().y() - box / 2), box, box),
            symbolName(section), ink);
        painter.setFont(textFont(textStyle::body.withWeight(selected ? QFont::Medium : QFont::Normal)));
        painter.setPen(ink);
        painter.drawText(QRectF(row.left() + 13 + 16 + 10, row.top(), row.width() - 52, row.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, title(section));
        if (section == AppWindowSection::support) {
            // The issue dot stands left of the update dot; a lone dot takes the outer place.
            painter.setPen(Qt::NoPen);
            if (inputs.unreadIssue) {
                painter.setBrush(color(Palette::danger));
                painter.drawEllipse(sidebarDotRect(row, inputs.updateAvailable ? 0 : 1));
            }
            if (inputs.updateAvailable) {
                painter.setBrush(color(Palette::warning));
                painter.drawEllipse(sidebarDotRect(row, 1));
            }
        }
    }

    // The caption at the bottom, unless the rows reach down to it: they are what the sidebar is for.
    if (!sidebarShowsCaption(rect)) {
        painter.restore();
        return;
    }
    const QFont caption = captionFont();
    const QFont version = versionFont();
    const qreal captionHeight = QFontMetricsF(caption).height();
    const qreal versionHeight = QFontMetricsF(version).height();
    const qreal bottom = rect.bottom() - 16;
    painter.setFont(version);
    painter.setPen(color(Palette::textTertiary));
    painter.drawText(QRectF(rect.left() + 16, bottom - versionHeight, kWidth - 32, versionHeight),
                     Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("v") + inputs.version);
    painter.setFont(caption);
    painter.setPen(color(Palette::textSecondary));
    painter.drawText(QRectF(rect.left() + 16, bottom - versionHeight - 4 - captionHeight, kWidth - 32, captionHeight),
                     Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("On-device by default"));
    painter.restore();
}

AppSidebar::AppSidebar(QWidget *parent) : QWidget(parent)
{
    // Before anything that makes Qt describe the sidebar (the name below does), or it keeps its plain description.
    installAppSidebarAccessibility();
    setObjectName(QStringLiteral("sidebar"));
    setFixedWidth(int(kWidth));
    setCursor(Qt::ArrowCursor);
    // Reached by Tab, not by a click: a click chooses a page and leaves no focus ring behind.
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(QStringLiteral("Sections"));
}

void AppSidebar::setInputs(const SidebarInputs &inputs)
{
    m_inputs = inputs;
    // What the dots say, for assistive technology.
    QStringList notes{title(inputs.selection)};
    if (inputs.unreadIssue)
        notes << QStringLiteral("New issue details");
    if (inputs.updateAvailable)
        notes << QStringLiteral("Update available");
    setAccessibleDescription(notes.join(QStringLiteral(", ")));
    update();
}

void AppSidebar::keyPressEvent(QKeyEvent *event)
{
    // Up and Down move through the pages in the sidebar's order.
    const int step = event->key() == Qt::Key_Up ? -1 : event->key() == Qt::Key_Down ? 1 : 0;
    if (step == 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    const auto current = std::find(allAppWindowSections.begin(), allAppWindowSections.end(), m_inputs.selection);
    const auto index = std::distance(allAppWindowSections.begin(), current) + step;
    if (index >= 0 && index < std::ssize(allAppWindowSections))
        emit sectionClicked(allAppWindowSections[size_t(index)]);
}

void AppSidebar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    SidebarInputs shown = m_inputs;
    // Focus that came by a click (or moved here when a page hid the focused control) draws no ring
    // over the selected row's wash.
    shown.focused = showsFocusRing(*this);
    paintSidebar(painter, QRectF(rect()), shown, colorSchemeOf(*this));
}

void AppSidebar::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    update();
}

void AppSidebar::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    update();
}

void AppSidebar::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (const auto section = sidebarSectionAt(QRectF(rect()), event->position()))
        emit sectionClicked(*section);
}

} // namespace zq

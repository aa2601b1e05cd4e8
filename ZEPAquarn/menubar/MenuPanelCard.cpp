#include "menubar/MenuPanelCard.h"

#include "menubar/brand/ControlWell.h"
#include "menubar/brand/Metrics.h"
#include "menubar/brand/SymbolCatalogue.h"
#include "menubar/brand/Typography.h"

#include <QEnterEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>

namespace zq {

namespace {

// The icon tile's corners and glyph, and the shortcut tag's padding.
constexpr qreal kTileRadius = 7.5;
constexpr qreal kTileGlyphSize = 13;
constexpr qreal kTagPaddingX = 12;
constexpr qreal kTagPaddingY = 4;
// A row's vertical padding, and the heights it reserves for its title and subtitle.
constexpr qreal kRowPaddingY = 9;
constexpr qreal kTitleLineHeight = 16;
constexpr qreal kSubtitleLineHeight = 14;

QColor hoverColor(double hover, ColorScheme scheme)
{
    QColor color = Palette::color(Palette::controlHover, scheme);
    color.setAlphaF(float(color.alphaF() * std::clamp(hover, 0.0, 1.0)));
    return color;
}

} // namespace

void paintMenuCard(QPainter &painter, const QRectF &rect, const QColor &fill, const QColor &border)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(rect, Metrics::kCardRadius, Metrics::kCardRadius);
    painter.fillPath(shape, fill);
    strokeInsideEdge(painter, rect, Metrics::kCardRadius, border);
    painter.restore();
}

void paintMenuFocusRing(QPainter &painter, const QRectF &rect, ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Palette::color(Palette::focus, scheme), Metrics::kRingWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(strokedRect(rect, Metrics::kRingWidth), Metrics::kCardRadius - 1, Metrics::kCardRadius - 1);
    painter.restore();
}

void paintMenuIconTile(QPainter &painter, const QRectF &rect, const QString &symbol, ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Palette::color(Palette::hairline, scheme), Metrics::kHairline));
    painter.setBrush(Palette::color(Palette::controlFill, scheme));
    painter.drawRoundedRect(strokedRect(rect), kTileRadius, kTileRadius);
    const QRectF glyph(rect.center().x() - kTileGlyphSize / 2, rect.center().y() - kTileGlyphSize / 2, kTileGlyphSize,
                       kTileGlyphSize);
    SymbolCatalogue::paint(painter, glyph, symbol, Palette::color(Palette::textSecondary, scheme));
    painter.restore();
}

namespace {

// The full-width hairline between two rows of a card.
class MenuCardDivider : public QWidget {
public:
    explicit MenuCardDivider(QWidget *parent) : QWidget(parent) { setFixedHeight(int(Metrics::kHairline)); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Palette::color(Palette::hairline, colorSchemeOf(*this)));
    }
};

} // namespace

MenuCard::MenuCard(const QList<QWidget *> &rows, QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (i > 0)
            layout->addWidget(new MenuCardDivider(this));
        rows[i]->setParent(this);
        layout->addWidget(rows[i]);
    }
}

void MenuCard::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const ColorScheme scheme = colorSchemeOf(*this);
    paintMenuCard(painter, rect(), Palette::color(Palette::surface, scheme), Palette::color(Palette::hairline, scheme));
}

MenuControlRow::MenuControlRow(QString symbol, QString title, QWidget *control, QWidget *parent)
    : QWidget(parent), m_symbol(std::move(symbol)), m_title(std::move(title)), m_control(control),
      m_hover(*this, rowHoverAnimation)
{
    setMinimumHeight(Metrics::kRowHeight);
    auto *layout = new QHBoxLayout(this);
    // Room on the leading side for the tile (26) and the title; the control sits at the trailing edge.
    layout->setContentsMargins(int(MenuMetrics::kRowInset), int(kRowPaddingY), int(MenuMetrics::kRowInset),
                               int(kRowPaddingY));
    layout->setSpacing(int(MenuMetrics::kRowInset));
    layout->addStretch(1);
    control->setParent(this);
    layout->addWidget(control, 0, Qt::AlignVCenter);
}

void MenuControlRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const ColorScheme scheme = colorSchemeOf(*this);
    painter.fillRect(rect(), hoverColor(m_hover.progress(), scheme));
    const QRectF tile(MenuMetrics::kRowInset, (height() - MenuMetrics::kIconTileSize) / 2.0, MenuMetrics::kIconTileSize,
                      MenuMetrics::kIconTileSize);
    paintMenuIconTile(painter, tile, m_symbol, scheme);
    painter.setFont(textFont(textStyle::rowTitle));
    painter.setPen(Palette::color(Palette::textPrimary, scheme));
    const qreal textLeft = tile.right() + MenuMetrics::kRowInset;
    const qreal textRight = m_control->geometry().left() - MenuMetrics::kAccessoryGap;
    painter.drawText(QRectF(textLeft, 0, std::max<qreal>(0, textRight - textLeft), height()),
                     Qt::AlignVCenter | Qt::AlignLeft, m_title);
}

void MenuControlRow::enterEvent(QEnterEvent *)
{
    m_hover.setHovering(true);
}

void MenuControlRow::leaveEvent(QEvent *)
{
    m_hover.setHovering(false);
}

MenuActionRow::MenuActionRow(QString symbol, QString title, QString subtitle, Accessory accessory, QString shortcutText,
                             QWidget *parent)
    : QAbstractButton(parent), m_symbol(std::move(symbol)), m_subtitle(std::move(subtitle)), m_accessory(accessory),
      m_shortcutText(std::move(shortcutText)), m_hover(*this, rowHoverAnimation)
{
    setText(title);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize MenuActionRow::sizeHint() const
{
    const qreal text =
        m_subtitle.isEmpty() ? kTitleLineHeight : kTitleLineHeight + MenuMetrics::kLineGap + kSubtitleLineHeight;
    return QSize(MenuMetrics::kContentWidth, int(std::max<qreal>(Metrics::kRowHeight, text + 2 * kRowPaddingY)));
}

void MenuActionRow::paint(QPainter &painter, const QRectF &rect, const QString &symbol, const QString &title,
                          const QString &subtitle, Accessory accessory, const QString &shortcutText, double hover,
                          ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect, hoverColor(hover, scheme));
    const QRectF tile(rect.left() + MenuMetrics::kRowInset, rect.center().y() - MenuMetrics::kIconTileSize / 2,
                      MenuMetrics::kIconTileSize, MenuMetrics::kIconTileSize);
    paintMenuIconTile(painter, tile, symbol, scheme);

    // The trailing accessory first, so the text knows where to stop.
    qreal trailing = rect.right() - MenuMetrics::kRowInset;
    if (accessory == Accessory::chevron) {
        const QRectF chevron(trailing - MenuMetrics::kChevronSize, rect.center().y() - MenuMetrics::kChevronSize / 2,
                             MenuMetrics::kChevronSize, MenuMetrics::kChevronSize);
        SymbolCatalogue::paint(painter, chevron, QStringLiteral("chevron.right"),
                               Palette::color(Palette::textTertiary, scheme));
        trailing = chevron.left();
    } else {
        const QFont tagFont = textFont(textStyle::caption);
        const QFontMetricsF metrics(tagFont);
        const QSizeF size(metrics.horizontalAdvance(shortcutText) + kTagPaddingX, metrics.height() + kTagPaddingY);
        const QRectF tag(trailing - size.width(), rect.center().y() - size.height() / 2, size.width(), size.height());
        painter.setPen(QPen(Palette::color(Palette::hairline, scheme), Metrics::kHairline));
        painter.setBrush(Palette::color(Palette::controlFill, scheme));
        painter.drawRoundedRect(strokedRect(tag), kTileRadius, kTileRadius);
        painter.setFont(tagFont);
        painter.setPen(Palette::color(Palette::textSecondary, scheme));
        painter.drawText(tag, Qt::AlignCenter, shortcutText);
        trailing = tag.left();
    }

    const qreal left = tile.right() + MenuMetrics::kRowInset;
    const qreal width = std::max<qreal>(0, trailing - MenuMetrics::kAccessoryGap - left);
    const QFont titleFont = textFont(textStyle::rowTitle);
    const QFont subtitleFont = textFont(textStyle::small);
    const qreal titleHeight = QFontMetricsF(titleFont).height();
    const qreal subtitleHeight = subtitle.isEmpty() ? 0 : QFontMetricsF(subtitleFont).height() + MenuMetrics::kLineGap;
    const qreal top = rect.center().y() - (titleHeight + subtitleHeight) / 2;
    painter.setFont(titleFont);
    painter.setPen(Palette::color(Palette::textPrimary, scheme));
    painter.drawText(QRectF(left, top, width, titleHeight), Qt::AlignLeft | Qt::AlignVCenter, title);
    if (!subtitle.isEmpty()) {
        painter.setFont(subtitleFont);
        painter.setPen(Palette::color(Palette::textTertiary, scheme));
        painter.drawText(QRectF(left, top + titleHeight + MenuMetrics::kLineGap, width, subtitleHeight),
                         Qt::AlignLeft | Qt::AlignTop, subtitle);
    }
    painter.restore();
}

void MenuActionRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const ColorScheme scheme = colorSchemeOf(*this);
    paint(painter, rect(), m_symbol, text(), m_subtitle, m_accessory, m_shortcutText,
          std::max(m_hover.progress(), hasFocus() ? 1.0 : 0.0), scheme);
}

void MenuActionRow::enterEvent(QEnterEvent *)
{
    m_hover.setHovering(true);
}

void MenuActionRow::leaveEvent(QEvent *)
{
    m_hover.setHovering(false);
}

} // namespace zq

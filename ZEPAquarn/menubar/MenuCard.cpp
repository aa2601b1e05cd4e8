#include "menubar/MenuCard.h"

#include "menubar/brand/ControlWell.h"
#include "menubar/brand/Metrics.h"
#include "menubar/brand/SymbolCatalogue.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>

namespace zq {

namespace {

// The size of the symbol on an icon tile.
constexpr qreal kTileGlyphSize = 13;

} // namespace

QColor menuRowHoverColor(double hover, ColorScheme scheme)
{
    QColor color = Palette::color(Palette::controlHover, scheme);
    color.setAlphaF(float(color.alphaF() * std::clamp(hover, 0.0, 1.0)));
    return color;
}

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

void paintMenuIconTile(QPainter &painter, const QRectF &rect, const QString &symbol, ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Palette::color(Palette::hairline, scheme), Metrics::kHairline));
    painter.setBrush(Palette::color(Palette::controlFill, scheme));
    painter.drawRoundedRect(strokedRect(rect), kMenuTileRadius, kMenuTileRadius);
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
        if (i > 0) {
            auto *divider = new MenuCardDivider(this);
            // A row not shown yet is hidden only when hidden on purpose.
            divider->setVisible(!(rows[i]->testAttribute(Qt::WA_WState_ExplicitShowHide) && rows[i]->isHidden()));
            layout->addWidget(divider);
            m_dividers.insert(rows[i], divider);
            rows[i]->installEventFilter(this);
        }
        rows[i]->setParent(this);
        layout->addWidget(rows[i]);
    }
}

bool MenuCard::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent) {
        if (QWidget *divider = m_dividers.value(watched))
            divider->setVisible(event->type() == QEvent::ShowToParent);
    }
    return QWidget::eventFilter(watched, event);
}

QPainterPath menuCardInterior(const QWidget &row)
{
    QPainterPath interior;
    const auto *card = qobject_cast<const MenuCard *>(row.parentWidget());
    if (!card) {
        interior.addRect(QRectF(row.rect()));
        return interior;
    }
    const QRectF inside =
        QRectF(card->rect())
            .adjusted(Metrics::kHairline, Metrics::kHairline, -Metrics::kHairline, -Metrics::kHairline)
            .translated(-QPointF(row.pos()));
    interior.addRoundedRect(inside, Metrics::kCardRadius - Metrics::kHairline,
                            Metrics::kCardRadius - Metrics::kHairline);
    return interior;
}

void MenuCard::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const ColorScheme scheme = colorSchemeOf(*this);
    paintMenuCard(painter, rect(), Palette::color(Palette::surface, scheme), Palette::color(Palette::hairline, scheme));
}

} // namespace zq

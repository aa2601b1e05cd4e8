#include "window/settings/SegmentedPicker.h"

#include "menubar/brand/FocusRing.h"
#include "menubar/brand/Metrics.h"
#include "menubar/brand/SymbolCatalogue.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>

namespace zq {

namespace {

constexpr qreal kRadius = 8;
constexpr qreal kInset = 2;
constexpr qreal kSegmentSymbolSize = 12;
constexpr qreal kSymbolGap = 6;

// A transparent, clickable area over one segment: keyboard focus and accessibility come with it,
// the picker itself draws everything but the focus ring of the segment that has the keyboard.
class SegmentArea : public QAbstractButton {
public:
    using QAbstractButton::QAbstractButton;

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (!showsFocusRing(*this))
            return;
        QPainter painter(this);
        paintFocusRing(painter, QRectF(rect()).adjusted(kInset, kInset, -kInset, -kInset), kRadius - kInset,
                       colorSchemeOf(*this));
    }
};

} // namespace

SegmentedPicker::SegmentedPicker(std::vector<Segment> segments, int width, std::function<QString()> value,
                                 std::function<void(const QString &value)> onChoose, QWidget *parent)
    : QWidget(parent), m_segments(std::move(segments)), m_value(std::move(value))
{
    setFixedSize(width, kHeight);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    for (const Segment &segment : m_segments) {
        auto *area = new SegmentArea(this);
        area->setText(segment.label);
        area->setAccessibleName(segment.label);
        area->setCheckable(true);
        area->setCursor(Qt::PointingHandCursor);
        area->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        row->addWidget(area);
        m_buttons.push_back(area);
        connect(area, &QAbstractButton::clicked, this, [this, area, value = segment.value, onChoose] {
            onChoose(value);
            // The chosen segment follows the value, not the click.
            refresh();
            area->setChecked(m_value() == value);
        });
    }
    refresh();
}

int SegmentedPicker::chosenIndex() const
{
    const QString current = m_value();
    for (std::size_t i = 0; i < m_segments.size(); ++i) {
        if (m_segments[i].value == current)
            return static_cast<int>(i);
    }
    return -1;
}

QRectF SegmentedPicker::segmentRect(int index) const
{
    const qreal width = qreal(this->width()) / qreal(m_segments.size());
    return QRectF(width * index, 0, width, height());
}

void SegmentedPicker::refresh()
{
    const int chosen = chosenIndex();
    for (std::size_t i = 0; i < m_buttons.size(); ++i)
        m_buttons[i]->setChecked(static_cast<int>(i) == chosen);
    update();
}

void SegmentedPicker::paint(QPainter &painter, const QRectF &rect, const std::vector<Segment> &segments, int chosen,
                            const QFont &font, ColorScheme scheme)
{
    if (segments.empty())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);

    // The track, outlined inside its edge like the other brand controls.
    const QRectF track = strokedRect(rect);
    painter.setPen(QPen(Palette::color(Palette::hairline, scheme), 1));
    painter.setBrush(Palette::color(Palette::controlFill, scheme));
    painter.drawRoundedRect(track, kRadius, kRadius);

    const qreal width = rect.width() / qreal(segments.size());
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const QRectF cell(rect.left() + width * qreal(i), rect.top(), width, rect.height());
        const bool isChosen = static_cast<int>(i) == chosen;
        if (isChosen) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(Palette::color(Palette::accentWash, scheme));
            const QRectF pill = cell.adjusted(kInset, kInset, -kInset, -kInset);
            painter.drawRoundedRect(pill, kRadius - kInset, kRadius - kInset);
        } else if (i > 0 && static_cast<int>(i) != chosen + 1) {
            // A short separator between two segments that are not chosen.
            painter.setPen(QPen(Palette::color(Palette::hairline, scheme), 1));
            const qreal x = std::round(cell.left()) + 0.5;
            painter.drawLine(QPointF(x, cell.top() + 7), QPointF(x, cell.bottom() - 7));
        }

        // Symbol and label as one group, centred in the segment.
        const QColor ink = Palette::color(isChosen ? Palette::textPrimary : Palette::textSecondary, scheme);
        QFont labelFont = font;
        labelFont.setWeight(isChosen ? QFont::Medium : QFont::Normal);
        const QFontMetricsF metrics(labelFont);
        const qreal textWidth = metrics.horizontalAdvance(segments[i].label);
        const qreal groupWidth = std::min(kSegmentSymbolSize + kSymbolGap + textWidth, cell.width() - 2 * kInset);
        const qreal left = cell.center().x() - groupWidth / 2;
        const QRectF symbol(left, cell.center().y() - kSegmentSymbolSize / 2, kSegmentSymbolSize, kSegmentSymbolSize);
        SymbolCatalogue::paint(painter, symbol, segments[i].symbol, ink);
        painter.setFont(labelFont);
        painter.setPen(ink);
        const QRectF text(symbol.right() + kSymbolGap, cell.top(), groupWidth - kSegmentSymbolSize - kSymbolGap,
                          cell.height());
        painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(segments[i].label, Qt::ElideRight, text.width()));
    }
    painter.restore();
}

void SegmentedPicker::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QFont labelFont = font();
    labelFont.setPixelSize(12);
    paint(painter, QRectF(rect()), m_segments, chosenIndex(), labelFont, colorSchemeOf(*this));
}

void SegmentedPicker::changeEvent(QEvent *event)
{
    // A change of appearance arrives as a new palette.
    if (event->type() == QEvent::PaletteChange)
        update();
    QWidget::changeEvent(event);
}

} // namespace zq

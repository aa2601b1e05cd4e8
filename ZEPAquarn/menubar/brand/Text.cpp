#include "menubar/brand/Text.h"

#include "menubar/brand/SymbolCatalogue.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QTextLayout>
#include <QVBoxLayout>

#include <cmath>

namespace zq {

QLabel *plainTextLabel(const QString &text, const QFont &font, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    return label;
}

void setTextColor(QWidget &widget, const QColor &color)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, color);
    widget.setPalette(palette);
}

StyledLabel::StyledLabel(const QString &text, const TextStyle &style, QWidget *parent) : QLabel(parent), m_style(style)
{
    setTextFormat(Qt::PlainText);
    setFont(textFont(style));
    setText(text);
    applyColor();
}

void StyledLabel::setColorToken(Palette::Token token)
{
    if (m_style.color == token)
        return;
    m_style.color = token;
    applyColor();
}

void StyledLabel::setMaximumLines(int lines)
{
    m_maximumLines = lines;
    setWordWrap(true);
    // Lines beyond the limit are cut at the bottom, never above the first.
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setMaximumHeight(lines > 0 ? lines * fontMetrics().lineSpacing() : QWIDGETSIZE_MAX);
}

QStringList StyledLabel::linesShown(const QString &text, const QFont &font, qreal width, int maximumLines)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine())
        line.setLineWidth(width);
    layout.endLayout();

    QStringList lines;
    const int count = layout.lineCount();
    for (int i = 0; i < count; ++i) {
        const QTextLine line = layout.lineAt(i);
        if (maximumLines > 0 && i == maximumLines - 1 && count > maximumLines) {
            // The last line shown ends after a whole word, then "…": never in the middle of one.
            const QString rest = text.mid(line.textStart()).simplified();
            const QFontMetricsF metrics(font);
            const QString ellipsis = QStringLiteral("…");
            QString shown = rest;
            while (metrics.horizontalAdvance(shown + ellipsis) > width) {
                const qsizetype space = shown.lastIndexOf(u' ');
                if (space <= 0) {
                    // One word wider than the line: only then is it cut inside.
                    shown = metrics.elidedText(shown, Qt::ElideRight, width);
                    break;
                }
                shown.truncate(space);
                while (!shown.isEmpty() && shown.back().isPunct())
                    shown.chop(1);
            }
            lines.append(shown.endsWith(ellipsis) ? shown : shown + ellipsis);
            break;
        }
        lines.append(text.mid(line.textStart(), line.textLength()).trimmed());
    }
    return lines;
}

void StyledLabel::paintEvent(QPaintEvent *event)
{
    if (m_maximumLines <= 0) {
        QLabel::paintEvent(event);
        return;
    }
    // Drawn by hand so that a cut detail says so with an ellipsis instead of stopping mid-sentence.
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    const QRect area = contentsRect();
    const QFontMetricsF metrics(font());
    qreal baseline = area.top() + metrics.ascent();
    for (const QString &line : linesShown(text(), font(), area.width(), m_maximumLines)) {
        painter.drawText(QPointF(area.left(), baseline), line);
        baseline += metrics.lineSpacing();
    }
}

void StyledLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColor();
}

void StyledLabel::applyColor()
{
    const QColor color = Palette::color(m_style.color, colorSchemeOf(*this));
    if (palette().color(QPalette::WindowText) == color)
        return;
    // Setting the palette sends a PaletteChange of its own; the colour is equal then, so it stops.
    setTextColor(*this, color);
}

SymbolView::SymbolView(const QString &name, qreal pointSize, Palette::Token tint, int frame, QWidget *parent)
    : QWidget(parent), m_name(name), m_pointSize(pointSize), m_tint(tint)
{
    setFixedSize(frame, frame);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SymbolView::setName(const QString &name)
{
    if (name == m_name)
        return;
    m_name = name;
    update();
}

void SymbolView::setTint(Palette::Token tint)
{
    if (tint == m_tint)
        return;
    m_tint = tint;
    update();
}

void SymbolView::setRotation(qreal degrees)
{
    m_rotation = degrees;
    update();
}

void SymbolView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The glyph's box on whole pixels (so its strokes stay sharp at 1×), turned about its centre.
    const qreal box = SymbolCatalogue::boxForPointSize(m_pointSize);
    const QPointF corner(std::round((width() - box) / 2), std::round((height() - box) / 2));
    painter.translate(corner + QPointF(box / 2, box / 2));
    painter.rotate(m_rotation);
    const QRectF glyph(-box / 2, -box / 2, box, box);
    SymbolCatalogue::paint(painter, glyph, m_name, Palette::color(m_tint, colorSchemeOf(*this)));
}

QHBoxLayout *explainedHeading(const QString &icon, const QString &title, const QString &explanation, QWidget *parent)
{
    auto *heading = new QHBoxLayout;
    heading->setSpacing(13);
    heading->addWidget(new SymbolView(icon, 12, Palette::textSecondary, 26, parent), 0, Qt::AlignTop);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(2);
    titles->addWidget(new StyledLabel(title, textStyle::rowTitle, parent));
    auto *line = new StyledLabel(explanation, textStyle::small, parent);
    line->setWordWrap(true);
    titles->addWidget(line);
    heading->addLayout(titles, 1);
    return heading;
}

} // namespace zq

#include "window/HistoryPageRow.h"

#include "menubar/brand/BrandFont.h"
#include "menubar/brand/SymbolCatalogue.h"
#include "menubar/brand/ZepaButton.h"
#include "window/SettingsBlocks.h"

#include <QAbstractButton>
#include <QFontMetricsF>
#include <QGraphicsOpacityEffect>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

#include <algorithm>

namespace zq {

namespace {

constexpr qreal kPaddingH = 10;
constexpr qreal kPaddingV = 16;
constexpr qreal kSpacing = 13;
constexpr qreal kGroupSpacing = 8;
constexpr qreal kDeleteSide = 28;

QFont transcriptFont()
{
    static const QFont font = settingsFont(TextStyle{13, QFont::Normal, -0.065, Palette::textPrimary});
    return font;
}

QFont dateFont()
{
    static const QFont font = brandFont(BrandWeight::regular, 11);
    return font;
}

ZepaButtonLabel copyLabel(bool copied)
{
    static const QFont font = settingsFont(TextStyle{11, QFont::Medium, -0.055, Palette::textPrimary});
    return copied ? ZepaButtonLabel{QStringLiteral("Copied"), QStringLiteral("checkmark"), font}
                  : ZepaButtonLabel{QStringLiteral("Copy"), QStringLiteral("doc.on.doc"), font};
}

// The copy button keeps the width of its wider label, so the text never reflows when it confirms.
QSizeF copyButtonSize()
{
    static const QSizeF size = [] {
        const QSizeF copy = zepaButtonSize(ZepaButtonStyle::quiet, copyLabel(false));
        const QSizeF copied = zepaButtonSize(ZepaButtonStyle::quiet, copyLabel(true));
        return QSizeF(std::max(copy.width(), copied.width()), std::max(copy.height(), copied.height()));
    }();
    return size;
}

} // namespace

HistoryRowLayout layoutHistoryRow(qreal width, const QString &text)
{
    HistoryRowLayout layout;
    layout.width = width;
    const QSizeF copy = copyButtonSize();
    const qreal groupWidth = copy.width() + kGroupSpacing + kDeleteSide;
    const qreal groupHeight = std::max(copy.height(), kDeleteSide);
    const qreal textWidth = std::max<qreal>(40, width - 2 * kPaddingH - kSpacing - groupWidth);

    const QFont font = transcriptFont();
    const QFontMetricsF metrics(font);
    QString shown = text;
    shown.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout textLayout(shown, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    textLayout.setTextOption(option);
    textLayout.beginLayout();
    for (;;) {
        QTextLine line = textLayout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(textWidth);
        if (layout.lines.size() == kHistoryRowMaxLines - 1) {
            // The last line shown takes the rest of the text, cut with an ellipsis when it does not fit.
            QString rest = shown.mid(line.textStart());
            rest.replace(QChar::LineSeparator, QLatin1Char(' '));
            const QString elided = metrics.elidedText(rest, Qt::ElideRight, textWidth);
            layout.truncated = elided != rest || textLayout.createLine().isValid();
            layout.lines.append(elided);
            break;
        }
        layout.lines.append(shown.mid(line.textStart(), line.textLength()).trimmed());
    }
    textLayout.endLayout();
    if (layout.lines.isEmpty())
        layout.lines.append(QString());

    const qreal textHeight = layout.lines.size() * metrics.lineSpacing();
    const qreal dateHeight = QFontMetricsF(dateFont()).lineSpacing();
    layout.text = QRectF(kPaddingH, kPaddingV, textWidth, textHeight);
    layout.date = QRectF(kPaddingH, kPaddingV + textHeight + 8, textWidth, dateHeight);
    const qreal groupLeft = width - kPaddingH - groupWidth;
    layout.copyButton = QRectF(QPointF(groupLeft, kPaddingV + (groupHeight - copy.height()) / 2), copy);
    layout.deleteButton = QRectF(groupLeft + copy.width() + kGroupSpacing, kPaddingV + (groupHeight - kDeleteSide) / 2,
                                 kDeleteSide, kDeleteSide);
    const qreal content = std::max(textHeight + 8 + dateHeight, groupHeight);
    layout.body = QRectF(0, 0, width, content + 2 * kPaddingV);
    layout.height = layout.body.height() + 1;
    return layout;
}

void paintHistoryRow(QPainter &painter, const QRectF &rect, const HistoryRowInputs &inputs,
                     const HistoryRowLayout &layout, ColorScheme scheme)
{
    painter.save();
    painter.translate(rect.topLeft());
    painter.setRenderHint(QPainter::Antialiasing);
    if (inputs.hovering) {
        QPainterPath body;
        body.addRoundedRect(layout.body, 8, 8);
        painter.fillPath(body, Palette::color(Palette::hoverFill, scheme));
    }

    // Plain text only: transcripts are never read as markup.
    painter.setFont(transcriptFont());
    painter.setPen(Palette::color(Palette::textPrimary, scheme));
    const qreal lineSpacing = QFontMetricsF(transcriptFont()).lineSpacing();
    const qreal ascent = QFontMetricsF(transcriptFont()).ascent();
    for (int i = 0; i < layout.lines.size(); ++i)
        painter.drawText(QPointF(layout.text.left(), layout.text.top() + i * lineSpacing + ascent), layout.lines[i]);

    painter.setFont(dateFont());
    painter.setPen(Palette::color(Palette::textTertiary, scheme));
    painter.drawText(QPointF(layout.date.left(), layout.date.top() + QFontMetricsF(dateFont()).ascent()),
                     inputs.dateText);

    painter.setOpacity(inputs.hovering || inputs.copied ? 1.0 : kHistoryButtonsIdleOpacity);
    const QSizeF copySize = zepaButtonSize(ZepaButtonStyle::quiet, copyLabel(inputs.copied));
    const QRectF copyRect(layout.copyButton.right() - copySize.width(), layout.copyButton.top(), copySize.width(),
                          copySize.height());
    paintZepaButton(painter, copyRect, ZepaButtonStyle::quiet, copyLabel(inputs.copied), inputs.copied, false, scheme);
    const QRectF trash(layout.deleteButton.center() - QPointF(6.5, 6.5), QSizeF(13, 13));
    SymbolCatalogue::paint(painter, trash, u"trash",
                           Palette::color(inputs.hovering ? Palette::textSecondary : Palette::textTertiary, scheme));
    painter.setOpacity(1.0);

    painter.fillRect(QRectF(0, layout.body.bottom(), layout.width, 1), Palette::color(Palette::hairline, scheme));
    painter.restore();
}

void setBrandButtonEnabled(QAbstractButton *button, bool enabled)
{
    button->setEnabled(enabled);
    if (enabled) {
        if (button->graphicsEffect())
            button->setGraphicsEffect(nullptr);
        return;
    }
    if (!qobject_cast<QGraphicsOpacityEffect *>(button->graphicsEffect())) {
        auto *faded = new QGraphicsOpacityEffect(button);
        faded->setOpacity(0.45);
        button->setGraphicsEffect(faded);
    }
}

} // namespace zq

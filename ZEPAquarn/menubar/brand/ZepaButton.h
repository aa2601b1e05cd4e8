#pragma once

#include "menubar/brand/Palette.h"

#include <QAbstractButton>
#include <QFont>
#include <QRectF>

#include <optional>

namespace zq {

// The two brand button styles: primary, a filled brand-coloured button for a page's main action,
// and quiet, a smaller outlined button for actions inside a row. `success` gives either its "done"
// look while the caller shows its copied feedback.
enum class ZepaButtonStyle { primary, quiet };

// What a style paints around the caller's label at one instant.
struct ZepaButtonLook {
    QColor text;
    QColor fill;
    std::optional<QColor> border; // 1 pixel, inside the shape
    qreal height;
    qreal horizontalPadding;
    qreal scale; // about the centre
    qreal opacity;
};

ZepaButtonLook zepaButtonLook(ZepaButtonStyle style, bool success, bool pressed, ColorScheme scheme);

// The caller's label: a text, an optional symbol before it, and the font (with its tracking).
struct ZepaButtonLabel {
    QString text;
    QString systemImage;
    QFont font;
};

// The button's size for a label: the label's width plus the style's padding, the style's height.
QSizeF zepaButtonSize(ZepaButtonStyle style, const ZepaButtonLabel &label);
// Draws the whole button into `rect`; a disabled one faded as one layer.
void paintZepaButton(QPainter &painter, const QRectF &rect, ZepaButtonStyle style, const ZepaButtonLabel &label,
                     bool success, bool pressed, ColorScheme scheme, bool enabled = true);

// A push button in one of the brand styles. The font set on it is the label's font; while disabled
// it is drawn faded.
class ZepaButton : public QAbstractButton {
    Q_OBJECT
public:
    ZepaButton(ZepaButtonStyle style, const QString &text, const QString &systemImage = {}, QWidget *parent = nullptr);

    bool success() const { return m_success; }
    void setSuccess(bool success);
    QString systemImage() const { return m_systemImage; }
    void setSystemImage(const QString &name);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ZepaButtonLabel label() const;

    ZepaButtonStyle m_style;
    QString m_systemImage;
    bool m_success = false;
};

} // namespace zq

#pragma once

#include "menubar/brand/Palette.h"

#include <QAbstractButton>

namespace zq {

// An on/off switch in the brand colours: the track takes the brand green when on. The label is the
// row's, so the switch draws none. Control sizes as the design's settings rows and panel use them.
class ZepaSwitch : public QAbstractButton {
    Q_OBJECT
public:
    enum class Size { regular, small, mini };

    explicit ZepaSwitch(Size size = Size::regular, QWidget *parent = nullptr);

    static QSizeF trackSize(Size size);
    // Draws the switch into `rect` (the track's size): knob on the right when `on`.
    static void paint(QPainter &painter, const QRectF &rect, bool on, bool enabled, ColorScheme scheme);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Size m_size;
};

} // namespace zq

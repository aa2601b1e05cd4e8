#pragma once

#include "menubar/brand/Motion.h"
#include "menubar/brand/Palette.h"

#include <QWidget>

namespace zq {

// The small activity indicator: spokes whose brightness turns once a second. A pure function of the
// time; the widget takes frames from its window's ticker only while it is shown, and stands still
// with animations off.
class ZepaSpinner : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSpokes = 8;

    explicit ZepaSpinner(qreal side = 16, QWidget *parent = nullptr);

    static void paint(QPainter &painter, const QRectF &rect, const QColor &color, double seconds);

    QSize sizeHint() const override;
    bool isAnimating() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    qreal m_side;
    rt::Nanos m_shownAt{0};
    Motion::Frames m_frames;
};

} // namespace zq

#pragma once

#include "menubar/brand/Palette.h"

#include <QAbstractButton>
#include <QWidget>

#include <functional>
#include <vector>

class QPainter;

namespace zq {

struct Segment {
    QString value;
    QString label;
    QString symbol;
};

// A row of segments of which one is chosen, drawn in the palette of the window's appearance so the
// chosen one stays visible in light and in dark. Clicking a segment reports its value; what is shown
// as chosen is read back from `value`.
class SegmentedPicker : public QWidget {
    Q_OBJECT
public:
    SegmentedPicker(std::vector<Segment> segments, int width, std::function<QString()> value,
                    std::function<void(const QString &value)> onChoose, QWidget *parent = nullptr);

    static constexpr int kHeight = 28;

    // Index of the chosen segment, -1 when the value is none of them.
    int chosenIndex() const;
    QRectF segmentRect(int index) const;
    QAbstractButton *segmentButton(int index) const { return m_buttons.at(static_cast<std::size_t>(index)); }
    void refresh();

    static void paint(QPainter &painter, const QRectF &rect, const std::vector<Segment> &segments, int chosen,
                      const QFont &font, ColorScheme scheme);

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    std::vector<Segment> m_segments;
    std::function<QString()> m_value;
    std::vector<QAbstractButton *> m_buttons;
};

} // namespace zq

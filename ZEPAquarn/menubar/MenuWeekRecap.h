#pragma once

#include "menubar/MenuWeekRecapContent.h"
#include "menubar/brand/Palette.h"

#include <QAbstractButton>

namespace zq {

// The weekly recap card: "This week" with the week's label over one or two figures. The whole card
// is one button that opens the Stats page.
class MenuWeekRecap : public QAbstractButton {
    Q_OBJECT
public:
    explicit MenuWeekRecap(QWidget *parent = nullptr);
    void setContent(const MenuWeekRecapContent &content);
    const MenuWeekRecapContent &content() const { return m_content; }

    static void paint(QPainter &painter, const QRectF &rect, const MenuWeekRecapContent &content, ColorScheme scheme);
    static qreal height();
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    MenuWeekRecapContent m_content;
};

} // namespace zq

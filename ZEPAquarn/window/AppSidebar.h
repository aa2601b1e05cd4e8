#pragma once

#include "menubar/brand/Palette.h"
#include "window/AppWindowSection.h"

#include <QRectF>
#include <QString>
#include <QWidget>

#include <optional>

class QPainter;

namespace zq {

// What the sidebar shows: the selected page, the Support row's two dots and the version caption.
struct SidebarInputs {
    AppWindowSection selection = AppWindowSection::stats;
    bool unreadIssue = false;     // the red dot
    bool updateAvailable = false; // the amber dot
    QString version;              // after "v"
    bool focused = false;         // the keyboard is on the sidebar: the selected row shows the ring
};

// The sidebar's geometry in a rectangle 210 wide: the rows start under the lockup, 44 high, 4 apart.
QRectF sidebarRowRect(const QRectF &sidebar, int index);
// Whether the caption fits under the last row; a sidebar too short for both keeps the rows.
bool sidebarShowsCaption(const QRectF &sidebar);
std::optional<AppWindowSection> sidebarSectionAt(const QRectF &sidebar, QPointF point);
QRectF sidebarDotRect(const QRectF &row, int dot); // dot 0 left of dot 1, each 7 × 7

// Paints the whole sidebar: its rounded panel, the lockup, one row per section and the caption.
void paintSidebar(QPainter &painter, const QRectF &rect, const SidebarInputs &inputs, ColorScheme scheme);

// The sidebar as a widget: a click on a row selects its page.
class AppSidebar : public QWidget {
    Q_OBJECT
public:
    explicit AppSidebar(QWidget *parent = nullptr);

    const SidebarInputs &inputs() const { return m_inputs; }
    void setInputs(const SidebarInputs &inputs);

signals:
    void sectionClicked(AppWindowSection section);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    SidebarInputs m_inputs;
};

} // namespace zq

#pragma once

#include "menubar/brand/Palette.h"

#include <QIcon>
#include <QList>
#include <QRect>
#include <QString>
#include <QWidget>

#include <optional>

class QAction;

namespace zq {

// One line of an open menu as it is drawn.
struct ZepaMenuRow {
    QString text;
    QIcon icon;
    // A section's title: drawn smaller and dimmer, never chosen.
    bool header = false;
};

// Everything the open menu's drawing depends on at one instant.
struct ZepaMenuLook {
    QList<ZepaMenuRow> rows;
    // The row under the pointer or the keyboard; none: no row.
    std::optional<int> highlighted;
    // How far the rows are scrolled up, in pixels.
    double scroll = 0;
    ColorScheme scheme = ColorScheme::light;
};

// The brand's pop-up list of choices, drawn in the palette's colours and the brand face. Its
// entries are the widget's actions: a separator with a text starts a titled section, any other
// action is a choice that runs when it is clicked or picked with the keyboard. It opens below the
// field it belongs to, at least as wide, and scrolls once it is taller than a share of the screen.
// Main thread only.
class ZepaMenu : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 24;
    static constexpr int kPaddingY = 5;
    // The tallest a menu grows, as a share of the screen's available height, before it scrolls.
    static constexpr double kHeightShare = 0.5;
    // Gap to the field, and the margin it keeps from the screen's edges.
    static constexpr int kGap = 4;
    static constexpr int kScreenMargin = 8;

    explicit ZepaMenu(QWidget *parent = nullptr);

    // Adds a choice, or a section's title.
    QAction *addOption(const QString &text, const QIcon &icon = {});
    QAction *addSection(const QString &title);

    // Where a menu whose rows take `content` opens for a field at `field`, on a screen whose
    // available area is `screen` (all in screen coordinates): below the field, at least as wide as
    // it, at most kHeightShare of the screen high; above the field only when there is more room.
    static QRect placement(const QRect &field, const QSize &content, const QRect &screen);

    // The rows' natural size: the widest row, all rows high.
    QSize contentSize() const;
    // Opens below `field` (screen coordinates).
    void popup(const QRect &field);

    QList<ZepaMenuRow> rows() const;
    std::optional<int> highlighted() const { return m_highlighted; }
    // Highlights row `index` (a choice) and scrolls it into view.
    void highlight(std::optional<int> index);
    double scroll() const { return m_scroll; }
    double maximumScroll() const;
    void setScroll(double scroll);
    // The row at `position` (widget coordinates), if any.
    std::optional<int> rowAt(QPointF position) const;
    // Where row `index` is drawn now (widget coordinates), scrolled with the rows.
    QRect rowRect(int index) const;
    // Closes the menu and runs the action of row `index`, when that row is a choice.
    void choose(int index);

    static void paint(QPainter &painter, const QRectF &rect, const ZepaMenuLook &look);
    // One choice in `row`: the highlight, the icon, the text and, when given, a shortcut at the
    // trailing edge. Also how the style draws the toolkit's menus, so every menu looks alike.
    struct RowState {
        bool highlighted = false;
        bool enabled = true;
        QString shortcut = {};
    };
    static void paintRow(QPainter &painter, const QRectF &row, const ZepaMenuRow &entry, const RowState &state,
                         ColorScheme scheme);
    // The menu's surface and its hairline border.
    static void paintFrame(QPainter &painter, const QRectF &rect, ColorScheme scheme);
    // The width a row needs for `text` and `shortcut`.
    static qreal rowWidth(const QString &text, const QString &shortcut = {});

signals:
    // The menu came on screen, before it takes the keyboard.
    void opened();
    // The menu left the screen, chosen from or not.
    void closed();

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    std::optional<int> step(int from, int direction) const;
    bool isChoice(int index) const;
    // The one place the highlight changes: repaints, and tells screen readers where it stands.
    void setHighlighted(std::optional<int> index);

    std::optional<int> m_highlighted;
    double m_scroll = 0;
};

} // namespace zq

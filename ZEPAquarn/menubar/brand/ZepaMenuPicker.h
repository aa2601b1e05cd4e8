#pragma once

#include "menubar/brand/HoverFade.h"
#include "menubar/brand/Palette.h"
#include "menubar/brand/ZepaMenu.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QWidget>

#include <functional>
#include <optional>

namespace zq {

// One choice: the value the binding receives (also the option's identity), its label, and the
// symbol shown beside the label in the menu (not while it is the current option).
struct ZepaMenuPickerOption {
    QVariant value;
    QString label;
    QString systemImage;
};

// A group of options; without a title its options stand in the menu with no header.
struct ZepaMenuPickerSection {
    QString id;
    std::optional<QString> title;
    QList<ZepaMenuPickerOption> options;
};

// The caller's value, read each time the control draws and written when the user chooses.
struct ZepaMenuPickerBinding {
    std::function<QVariant()> get;
    std::function<void(const QVariant &)> set;
};

// How the closed field looks at one instant: everything its drawing depends on.
struct ZepaMenuPickerField {
    QString label;
    QString leadingSystemImage;
    bool compact = false;
    // 0: the control fill, 1: the hover fill; in between while the hover change animates.
    double hover = 0;
    bool focused = false;
    bool enabled = true;
    ColorScheme scheme = ColorScheme::light;
};

// The brand's drop-down choice: a compact rounded field with the current choice and a chevron that
// opens a menu of options, grouped into optional titled sections, with a checkmark on the current
// one. Choosing writes the option's value into the binding and does nothing else. Main thread only.
class ZepaMenuPicker : public QWidget {
    Q_OBJECT
public:
    static constexpr qreal kHeight = 34;
    static constexpr qreal kCompactHeight = 28;

    ZepaMenuPicker(QString title, ZepaMenuPickerBinding selection, QList<ZepaMenuPickerSection> sections, qreal width,
                   QString leadingSystemImage = {}, bool compact = false, QWidget *parent = nullptr);

    void setSections(QList<ZepaMenuPickerSection> sections);
    const QList<ZepaMenuPickerSection> &sections() const { return m_sections; }

    // The first option, through the sections in order, whose value equals the binding's.
    std::optional<ZepaMenuPickerOption> currentOption() const;
    // Its label, or "Choose…" when no option matches.
    QString currentLabel() const;

    // The menu as it opens now: titled sections under their header, the current option checked.
    ZepaMenu *buildMenu();
    // Opens the menu below the field (does nothing while disabled).
    void openMenu();
    // The open menu, if any.
    ZepaMenu *menu() const { return m_menu; }

    QSize sizeHint() const override;

    // Draws the closed field into `rect`, whose size is the field's.
    static void paintField(QPainter &painter, const QRectF &rect, const ZepaMenuPickerField &field);
    // The narrowest field that shows each of `labels` whole in the brand face, with or without a
    // leading symbol.
    static qreal fittingWidth(const QStringList &labels, bool leadingSymbol);

signals:
    // The menu left the screen: whatever was under the pointer before it opened may not be now.
    void menuClosed();

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void choose(const QVariant &value);
    // Hover follows the pointer once a menu no longer hides it.
    void followPointer();

    QString m_title;
    ZepaMenuPickerBinding m_selection;
    QList<ZepaMenuPickerSection> m_sections;
    QString m_leadingSystemImage;
    bool m_compact;
    HoverFade m_hover;
    QPointer<ZepaMenu> m_menu;
};

} // namespace zq

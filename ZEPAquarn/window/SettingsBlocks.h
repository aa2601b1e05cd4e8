#pragma once

#include "menubar/brand/Palette.h"

#include <QFont>
#include <QLabel>
#include <QPointer>
#include <QWidget>

#include <optional>

class QVBoxLayout;
class QVariantAnimation;
class QHBoxLayout;

namespace zq {

// One text role of the settings pages: the system font at a pixel size and weight, a letter
// spacing, and the palette token it is drawn in.
struct TextStyle {
    qreal size = 13;
    QFont::Weight weight = QFont::Normal;
    qreal tracking = 0;
    Palette::Token color = Palette::textPrimary;
};

namespace textStyle {
inline constexpr TextStyle pageTitle{19, QFont::Medium, -0.19, Palette::textPrimary};
inline constexpr TextStyle pageSubtitle{11, QFont::Normal, -0.055, Palette::textTertiary};
inline constexpr TextStyle sectionTitle{15, QFont::Medium, -0.075, Palette::textPrimary};
inline constexpr TextStyle small{11, QFont::Normal, -0.055, Palette::textTertiary};
inline constexpr TextStyle rowTitle{13, QFont::Medium, -0.065, Palette::textPrimary};
inline constexpr TextStyle value{12, QFont::Normal, -0.06, Palette::textSecondary};
} // namespace textStyle

QFont settingsFont(const TextStyle &style);

// A label that shows `text` as plain text in `font`: outside text is never read as markup.
QLabel *plainTextLabel(const QString &text, const QFont &font, QWidget *parent = nullptr);
// Draws the widget's text in `color`; views call it again when the light or dark scheme changes.
void setTextColor(QWidget &widget, const QColor &color);

// A plain-text label in one text role; its colour follows the light or dark scheme it is shown in.
// Outside text (device names, server answers) is never read as markup here.
class StyledLabel : public QLabel {
    Q_OBJECT
public:
    StyledLabel(const QString &text, const TextStyle &style, QWidget *parent = nullptr);

    void setColorToken(Palette::Token token);
    Palette::Token colorToken() const { return m_style.color; }
    // At most this many lines are shown (0: no limit); a cut text ends its last line with "…".
    void setMaximumLines(int lines);

    // The lines `text` shows in `width`: wrapped at word boundaries, and when more than
    // `maximumLines` would be needed, the last one shown carries the rest, elided.
    static QStringList linesShown(const QString &text, const QFont &font, qreal width, int maximumLines);

protected:
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void applyColor();

    TextStyle m_style;
    int m_maximumLines = 0;
};

// A symbol of the brand's catalogue at a size, in a square frame, tinted with a token.
class SymbolView : public QWidget {
    Q_OBJECT
public:
    SymbolView(const QString &name, qreal pointSize, Palette::Token tint, int frame, QWidget *parent = nullptr);
    void setName(const QString &name);
    void setTint(Palette::Token tint);
    void setRotation(qreal degrees);
    qreal rotation() const { return m_rotation; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_name;
    qreal m_pointSize;
    Palette::Token m_tint;
    qreal m_rotation = 0;
};

// The heading of a block that explains itself: the row's symbol at the top, the title, and the
// explanation wrapped under it. The caller places the layout; the labels belong to `parent`.
QHBoxLayout *explainedHeading(const QString &icon, const QString &title, const QString &explanation, QWidget *parent);

// A titled group of rows: the title, an optional detail, then the content with no spacing.
class SettingsSection : public QWidget {
    Q_OBJECT
public:
    SettingsSection(const QString &title, const std::optional<QString> &detail, QWidget *parent = nullptr);
    void add(QWidget *item);
    QVBoxLayout *content() const { return m_content; }

private:
    QVBoxLayout *m_content;
};

// Icon, title, an optional detail line and a control on the right. The detail is coloured by its
// first character ("✓" success, "✗" danger) and cut to two lines.
class SettingsRow : public QWidget {
    Q_OBJECT
public:
    SettingsRow(const QString &icon, const QString &title, const QString &detail, QWidget *control = nullptr,
                QWidget *parent = nullptr);

    void setDetail(const QString &detail);
    QString detail() const;
    // The icon's symbol and tint: rows whose state changes (Updates) recolour it in place.
    void setIcon(const QString &icon, Palette::Token tint);
    SymbolView *iconView() const { return m_icon; }
    StyledLabel *detailLabel() const { return m_detail; }
    StyledLabel *titleLabel() const { return m_title; }

private:
    SymbolView *m_icon;
    StyledLabel *m_title;
    StyledLabel *m_detail;
};

// The hairline between rows, starting under the row titles.
class SettingsDivider : public QWidget {
    Q_OBJECT
public:
    explicit SettingsDivider(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A question that shows its answer when clicked anywhere on its line, and hides it again.
class SettingsFAQRow : public QWidget {
    Q_OBJECT
public:
    SettingsFAQRow(const QString &question, const QString &answer, QWidget *parent = nullptr);

    bool isExpanded() const { return m_expanded; }
    void setExpanded(bool expanded);
    void toggle() { setExpanded(!m_expanded); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_header;
    SymbolView *m_chevron;
    StyledLabel *m_answer;
    QPointer<QVariantAnimation> m_turn;
    bool m_expanded = false;
};

} // namespace zq

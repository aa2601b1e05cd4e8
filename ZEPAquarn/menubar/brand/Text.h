#pragma once

#include "menubar/brand/Typography.h"

#include <QFont>
#include <QLabel>
#include <QWidget>

class QHBoxLayout;

namespace zq {

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

} // namespace zq

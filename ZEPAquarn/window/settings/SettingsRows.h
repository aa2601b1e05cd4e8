#pragma once

#include "menubar/brand/Motion.h"
#include "menubar/brand/Text.h"
#include "window/settings/SettingsPageText.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class QVBoxLayout;

namespace zq {

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

// Icon, title, an optional detail line and a control on the right. The detail is drawn in its
// status's tone and cut to two lines.
class SettingsRow : public QWidget {
    Q_OBJECT
public:
    SettingsRow(const QString &icon, const QString &title, const QString &detail, QWidget *control = nullptr,
                QWidget *parent = nullptr);

    // A plain detail line; an empty one shows no second line.
    void setDetail(const QString &detail);
    // A check's result, in its tone.
    void setStatus(const RowStatus &status);
    QString detail() const;
    // The icon's symbol and tint: rows whose state changes (Updates) recolour it in place.
    void setIcon(const QString &icon, Palette::Token tint);
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
    QWidget *answer() const;
    // How much of the answer shows, 0 to 1: it opens and closes with the chevron's turn.
    double revealed() const { return m_reveal.value(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void applyReveal();

    QWidget *m_header;
    SymbolView *m_chevron;
    StyledLabel *m_answer;
    // Half a turn while expanded; it turns with the answer, eased in and out.
    AnimatedValue m_turn{{motion::easeInOut, motion::disclosure}, [this] { m_chevron->setRotation(m_turn.value()); }};
    AnimatedValue m_reveal{{motion::easeInOut, motion::disclosure}, [this] { applyReveal(); }};
    bool m_expanded = false;
};

} // namespace zq

#pragma once

#include "window/settings/SettingsPageText.h"

#include <QWidget>

#include <functional>
#include <vector>

class QAbstractButton;

namespace zq {

class ZepaButton;
class ZepaMenuPicker;

// The controls the settings rows hold, in the brand's look. Each reports the user's changes only
// (setting a value from the program reports nothing).

// An on/off switch; its accessible name is the row's title.
QAbstractButton *makeSwitch(const QString &accessibleName, std::function<void(bool on)> onToggle,
                            QWidget *parent = nullptr);
void setSwitch(QAbstractButton *control, bool on);

// A brand menu picker bound to a value: it reads `value` each time it draws and calls `onChoose`
// with the user's choice. A value that is none of the choices selects none. Its leading symbol can
// follow the value.
class SettingsPicker : public QWidget {
    Q_OBJECT
public:
    SettingsPicker(const QString &title, std::vector<PickerChoice> choices, int width, QString leadingSymbol,
                   std::function<QString()> value, std::function<void(const QString &value)> onChoose,
                   QWidget *parent = nullptr);

    void setChoices(const std::vector<PickerChoice> &choices);
    void setLeadingSymbol(const QString &symbol);
    // Redraws with the value as it is now.
    void refresh();

    ZepaMenuPicker *picker() const { return m_picker; }
    const std::vector<PickerChoice> &choices() const { return m_choices; }
    QString title() const { return m_title; }

private:
    void rebuild();

    QString m_title;
    std::vector<PickerChoice> m_choices;
    int m_width;
    QString m_leadingSymbol;
    std::function<QString()> m_value;
    std::function<void(const QString &)> m_onChoose;
    ZepaMenuPicker *m_picker = nullptr;
};

// "Run Test", or the small spinner in its place while the check runs.
class RunTestControl : public QWidget {
    Q_OBJECT
public:
    explicit RunTestControl(std::function<void()> onRun, QWidget *parent = nullptr);
    void setRunning(bool running);
    void setRunnable(bool runnable);
    QAbstractButton *button() const;
    bool isRunning() const;

private:
    ZepaButton *m_button;
    QWidget *m_busy;
};

} // namespace zq

#pragma once

#include "window/SettingsPageText.h"

#include <QWidget>

#include <functional>
#include <vector>

class QAbstractButton;
class QComboBox;
class QPushButton;

namespace zq {

// The controls the settings rows hold. Each shows a value and reports the user's changes only
// (setting a value from the program reports nothing).

// An on/off switch; its accessible name is the row's title.
QAbstractButton *makeSwitch(const QString &accessibleName, std::function<void(bool on)> onToggle,
                            QWidget *parent = nullptr);
void setSwitch(QAbstractButton *control, bool on);

// A drop-down of choices, `width` wide; a current value that is none of the choices selects none.
QComboBox *makePicker(const QString &accessibleName, const std::vector<PickerChoice> &choices, int width,
                      std::function<void(const QString &value)> onChoose, QWidget *parent = nullptr);
void setPickerChoices(QComboBox *picker, const std::vector<PickerChoice> &choices);
void setPickerValue(QComboBox *picker, const QString &value);

// "Run Test", or a small busy indicator in its place while the check runs.
class RunTestControl : public QWidget {
    Q_OBJECT
public:
    explicit RunTestControl(std::function<void()> onRun, QWidget *parent = nullptr);
    void setRunning(bool running);
    void setRunnable(bool runnable);
    QPushButton *button() const { return m_button; }
    bool isRunning() const;

private:
    QPushButton *m_button;
    QWidget *m_busy;
};

} // namespace zq

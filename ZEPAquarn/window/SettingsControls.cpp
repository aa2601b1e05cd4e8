#include "window/SettingsControls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>

namespace zq {

QAbstractButton *makeSwitch(const QString &accessibleName, std::function<void(bool on)> onToggle, QWidget *parent)
{
    auto *control = new QCheckBox(parent);
    control->setAccessibleName(accessibleName);
    QObject::connect(control, &QCheckBox::toggled, control, [onToggle = std::move(onToggle)](bool on) { onToggle(on); });
    return control;
}

void setSwitch(QAbstractButton *control, bool on)
{
    const QSignalBlocker blocker(control);
    control->setChecked(on);
}

QComboBox *makePicker(const QString &accessibleName, const std::vector<PickerChoice> &choices, int width,
                      std::function<void(const QString &value)> onChoose, QWidget *parent)
{
    auto *picker = new QComboBox(parent);
    picker->setAccessibleName(accessibleName);
    picker->setFixedWidth(width);
    setPickerChoices(picker, choices);
    QObject::connect(picker, &QComboBox::activated, picker, [picker, onChoose = std::move(onChoose)](int index) {
        onChoose(picker->itemData(index).toString());
    });
    return picker;
}

void setPickerChoices(QComboBox *picker, const std::vector<PickerChoice> &choices)
{
    const QSignalBlocker blocker(picker);
    const QString current = picker->currentData().toString();
    picker->clear();
    // Labels can be device names: QComboBox shows its items as plain text.
    for (const auto &choice : choices)
        picker->addItem(choice.label, choice.value);
    setPickerValue(picker, current);
}

void setPickerValue(QComboBox *picker, const QString &value)
{
    const QSignalBlocker blocker(picker);
    picker->setCurrentIndex(picker->findData(value));
}

RunTestControl::RunTestControl(std::function<void()> onRun, QWidget *parent)
    : QWidget(parent), m_button(new QPushButton(QStringLiteral("Run Test"), this)), m_busy(new QProgressBar(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_button);
    auto *busy = static_cast<QProgressBar *>(m_busy);
    busy->setRange(0, 0); // indeterminate: it spins while shown
    busy->setTextVisible(false);
    busy->setFixedSize(16, 16);
    busy->setAccessibleName(QStringLiteral("Testing"));
    layout->addWidget(m_busy);
    m_busy->hide();
    connect(m_button, &QPushButton::clicked, this, [onRun = std::move(onRun)] { onRun(); });
}

void RunTestControl::setRunning(bool running)
{
    m_button->setVisible(!running);
    m_busy->setVisible(running);
}

void RunTestControl::setRunnable(bool runnable)
{
    m_button->setEnabled(runnable);
}

bool RunTestControl::isRunning() const
{
    return m_busy->isVisibleTo(const_cast<RunTestControl *>(this));
}

} // namespace zq

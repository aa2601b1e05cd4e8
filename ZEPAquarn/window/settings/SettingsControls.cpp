#include "window/settings/SettingsControls.h"

#include "menubar/brand/ZepaButton.h"
#include "menubar/brand/ZepaMenuPicker.h"
#include "menubar/brand/ZepaSpinner.h"
#include "menubar/brand/ZepaSwitch.h"

#include <QHBoxLayout>
#include <QSignalBlocker>

namespace zq {

QAbstractButton *makeSwitch(const QString &accessibleName, std::function<void(bool on)> onToggle, QWidget *parent)
{
    auto *control = new ZepaSwitch(ZepaSwitch::Size::regular, parent);
    control->setCheckable(true);
    control->setAccessibleName(accessibleName);
    QObject::connect(control, &QAbstractButton::toggled, control,
                     [onToggle = std::move(onToggle)](bool on) { onToggle(on); });
    return control;
}

void setSwitch(QAbstractButton *control, bool on)
{
    const QSignalBlocker blocker(control);
    control->setChecked(on);
}

namespace {

QList<ZepaMenuPickerSection> sectionsOf(const std::vector<PickerChoice> &choices)
{
    ZepaMenuPickerSection section{QStringLiteral("options"), std::nullopt, {}};
    // Labels can be device names: the picker draws them as plain text.
    for (const auto &choice : choices)
        section.options.append({choice.value, choice.label, choice.symbol});
    return {section};
}

} // namespace

SettingsPicker::SettingsPicker(const QString &title, std::vector<PickerChoice> choices, int width,
                               QString leadingSymbol, std::function<QString()> value,
                               std::function<void(const QString &value)> onChoose, QWidget *parent)
    : QWidget(parent), m_title(title), m_choices(std::move(choices)), m_width(width),
      m_leadingSymbol(std::move(leadingSymbol)), m_value(std::move(value)), m_onChoose(std::move(onChoose))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    rebuild();
}

void SettingsPicker::setChoices(const std::vector<PickerChoice> &choices)
{
    if (choices == m_choices)
        return;
    m_choices = choices;
    m_picker->setSections(sectionsOf(m_choices));
}

void SettingsPicker::setLeadingSymbol(const QString &symbol)
{
    if (symbol == m_leadingSymbol)
        return;
    m_leadingSymbol = symbol;
    // The picker takes its leading symbol once; a new symbol is a new field.
    rebuild();
}

void SettingsPicker::refresh()
{
    m_picker->update();
}

void SettingsPicker::rebuild()
{
    const bool hadFocus = m_picker && m_picker->hasFocus();
    if (m_picker) {
        // Out of the row at once: the deferred delete would leave both fields side by side until then.
        layout()->removeWidget(m_picker);
        m_picker->hide();
        m_picker->deleteLater();
    }
    ZepaMenuPickerBinding binding{[value = m_value] { return QVariant(value()); },
                                  [onChoose = m_onChoose](const QVariant &chosen) { onChoose(chosen.toString()); }};
    m_picker =
        new ZepaMenuPicker(m_title, std::move(binding), sectionsOf(m_choices), m_width, m_leadingSymbol, false, this);
    layout()->addWidget(m_picker);
    if (hadFocus)
        m_picker->setFocus();
}

RunTestControl::RunTestControl(std::function<void()> onRun, QWidget *parent)
    : QWidget(parent), m_button(new ZepaButton(ZepaButtonStyle::quiet, QStringLiteral("Run Test"), {}, this)),
      m_busy(new ZepaSpinner(16, this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_button);
    m_busy->setAccessibleName(QStringLiteral("Testing"));
    layout->addWidget(m_busy);
    m_busy->hide();
    connect(m_button, &QAbstractButton::clicked, this, [onRun = std::move(onRun)] { onRun(); });
}

QAbstractButton *RunTestControl::button() const
{
    return m_button;
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
    return !m_button->isVisibleTo(const_cast<RunTestControl *>(this));
}

} // namespace zq

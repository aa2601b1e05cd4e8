#include "window/settings/SettingsPage.h"

#include "window/settings/AppSettingsModel.h"
#include "window/settings/SettingsRows.h"

#include <QVBoxLayout>

namespace zq {

SettingsPage::SettingsPage(AppSettingsModel &model, QWidget *parent) : QWidget(parent), m_column(new QVBoxLayout(this))
{
    m_column->setContentsMargins(0, 0, 0, 0);
    m_column->setSpacing(28);
    connect(&model, &AppSettingsModel::stateChanged, this, [this] { refresh(); });
}

SettingsSection *SettingsPage::addSection(const QString &title, const std::optional<QString> &detail)
{
    auto *section = new SettingsSection(title, detail, this);
    m_column->addWidget(section);
    return section;
}

void SettingsPage::addRefresh(std::function<void()> step)
{
    m_steps.push_back(std::move(step));
}

void SettingsPage::refresh()
{
    for (const auto &step : m_steps)
        step();
}

} // namespace zq

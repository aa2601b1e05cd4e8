#pragma once

#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QVBoxLayout;

namespace zq {

class AppSettingsModel;
class SettingsSection;

// One settings page: a column of sections 28 apart. Each control registers a step that brings it up
// to date, and every step runs whenever the model changes.
class SettingsPage : public QWidget {
public:
    SettingsPage(AppSettingsModel &model, QWidget *parent);

    SettingsSection *addSection(const QString &title, const std::optional<QString> &detail = std::nullopt);
    void addRefresh(std::function<void()> step);
    void refresh();

private:
    QVBoxLayout *m_column;
    std::vector<std::function<void()>> m_steps;
};

} // namespace zq

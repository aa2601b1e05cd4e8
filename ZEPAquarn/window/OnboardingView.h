#pragma once

#include "window/OnboardingModel.h"
#include "window/TriggerBindingRecorderView.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class QLabel;
class QPushButton;

namespace zq {

namespace rt {
class Settings;
} // namespace rt

// The status mark of a step: a disc of `color` with a check in `background` when done, an empty ring
// of `color` otherwise.
void paintStatusIcon(QPainter &painter, const QRectF &rect, bool done, const QColor &color, const QColor &background);

// The first-run window ("Welcome"): the three checks dictation needs, the trigger with its recorder,
// "Re-check" and "Done". Done stores "onboarded" and then runs the completion, which starts the global
// trigger. The checks are polled while the window is shown.
class OnboardingView : public QWidget {
    Q_OBJECT
public:
    OnboardingView(rt::Settings &settings, platform::PermissionProbe &probe, const TriggerRecorderServices &recorder,
                   std::function<void()> onDone, QWidget *parent = nullptr);
    ~OnboardingView() override;

    OnboardingModel &model() { return *m_model; }
    // "Done".
    void done() { m_model->finish(); }

    // The parts tests look at.
    struct Row {
        QWidget *icon = nullptr;
        QLabel *title = nullptr;
        QLabel *detail = nullptr;
        QPushButton *button = nullptr;
    };
    const Row &row(OnboardingContent::Row which) const { return m_rows[which]; }
    const Row &triggerRow() const { return m_trigger; }
    TriggerBindingRecorderView *recorder() const { return m_recorder; }
    QPushButton *keyboardSettingsButton() const { return m_keyboardSettings; }
    QPushButton *recheckButton() const { return m_recheck; }
    QPushButton *doneButton() const { return m_done; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    Row makeRow(QWidget *parent, const QString &title);
    void present(const OnboardingContent &content);

    std::unique_ptr<OnboardingModel> m_model;
    std::array<Row, 3> m_rows;
    Row m_trigger;
    TriggerBindingRecorderView *m_recorder = nullptr;
    QPushButton *m_keyboardSettings = nullptr;
    QPushButton *m_recheck = nullptr;
    QPushButton *m_done = nullptr;
};

} // namespace zq

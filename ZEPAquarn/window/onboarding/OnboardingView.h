#pragma once

#include "menubar/brand/Palette.h"
#include "window/onboarding/OnboardingModel.h"
#include "window/recorder/TriggerBindingRecorderView.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace zq {

// The first-run window ("Welcome"): the three checks dictation needs, the trigger with its recorder,
// "Re-check" and "Done". Done stores "onboarded" and then runs the completion, which starts the global
// trigger. The checks are polled while the window is shown. It opens centred on the screen with the pointer.
class OnboardingView : public QWidget {
    Q_OBJECT
public:
    // Observes the model without owning it; a model made for this window alone is made its child.
    // `recorder` (the settings' trigger recorder) is placed under the Trigger row and becomes the
    // window's child.
    OnboardingView(OnboardingModel &model, TriggerBindingRecorderView *recorder, QWidget *parent = nullptr);
    ~OnboardingView() override;

    OnboardingModel &model() { return m_model; }
    // "Done".
    void done() { m_model.finish(); }

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
    QPushButton *doneButton() const { return m_done; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void addHeader(QVBoxLayout &root);
    void addPermissionRows(QVBoxLayout &root, const OnboardingContent &initial);
    void addTriggerSection(QVBoxLayout &root);
    void addFooter(QVBoxLayout &root);
    Row makeRow(QWidget *parent, const QString &title);
    void present(const OnboardingContent &content);
    void applyColors();

    OnboardingModel &m_model;
    std::array<Row, 3> m_rows;
    Row m_trigger;
    TriggerBindingRecorderView *m_recorder = nullptr;
    QPushButton *m_keyboardSettings = nullptr;
    QPushButton *m_recheck = nullptr;
    QPushButton *m_done = nullptr;
    // The texts and the colour token each is drawn in.
    std::vector<std::pair<QWidget *, Palette::Token>> m_textColors;
};

} // namespace zq

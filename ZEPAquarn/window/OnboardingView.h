#pragma once

#include "runtime/Settings.h"

#include <QWidget>

#include <functional>

namespace zq {

// The first-run window. Its Done button stores "onboarded" and then runs the completion action, which
// starts the global trigger. The permission steps come with the onboarding pages.
class OnboardingView : public QWidget {
    Q_OBJECT
public:
    OnboardingView(rt::Settings &settings, std::function<void()> onDone, QWidget *parent = nullptr);

    void done();

private:
    rt::Settings &m_settings;
    std::function<void()> m_onDone;
};

} // namespace zq

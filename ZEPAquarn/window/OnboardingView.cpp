#include "window/OnboardingView.h"

#include "pipeline/SettingsDefaults.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace zq {

OnboardingView::OnboardingView(rt::Settings &settings, std::function<void()> onDone, QWidget *parent)
    : QWidget(parent), m_settings(settings), m_onDone(std::move(onDone))
{
    setObjectName(QStringLiteral("onboarding"));
    setWindowTitle(QStringLiteral("Welcome"));
    resize(520, 360);
    auto *layout = new QVBoxLayout(this);
    auto *heading = new QLabel(QStringLiteral("Welcome"), this);
    QFont font = heading->font();
    font.setPointSize(20);
    heading->setFont(font);
    layout->addWidget(heading);
    layout->addStretch(1);
    auto *button = new QPushButton(QStringLiteral("Done"), this);
    button->setObjectName(QStringLiteral("onboarding-done"));
    layout->addWidget(button, 0, Qt::AlignRight);
    connect(button, &QPushButton::clicked, this, &OnboardingView::done);
}

void OnboardingView::done()
{
    m_settings.setValue(QString::fromLatin1(keys::onboarded), true);
    if (m_onDone)
        m_onDone();
}

} // namespace zq

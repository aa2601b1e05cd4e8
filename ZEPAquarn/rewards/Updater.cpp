#include "rewards/Updater.h"

namespace zq {

Updater::Updater(CheckRequest checkRequest, QObject *parent) : QObject(parent), m_checkRequest(std::move(checkRequest))
{}

void Updater::setState(AppUpdateState state)
{
    if (m_state == state)
        return;
    m_state = std::move(state);
    emit stateChanged();
}

void Updater::checkForUpdates()
{
    if (!m_checkRequest)
        return;
    if (!isChecking())
        setState(AppUpdateState{AppUpdateState::Kind::checking, {}, {}});
    m_checkRequest(*this);
}

} // namespace zq

#include "support/FakeScreenLocker.h"

#include <QMetaObject>

namespace zq::test {

bool FakeScreenLocker::start(const QString &busAddress, const QString &objectPath, bool active)
{
    m_active = active;
    return m_service.start(busAddress, new ScreenLockerHandler(*this), QLatin1String(kServiceName), objectPath,
                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals);
}

void FakeScreenLocker::setActive(bool active)
{
    m_active = active;
    auto *handler = m_service.handler<ScreenLockerHandler>();
    QMetaObject::invokeMethod(handler, [handler, active] { emit handler->ActiveChanged(active); });
}

} // namespace zq::test

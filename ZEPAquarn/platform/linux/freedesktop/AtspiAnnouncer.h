#pragma once

#include "platform/AccessibilityAnnouncer.h"

namespace zq::platform {

// Announces through the desktop's accessibility bus (AT-SPI): an "Announcement" object event from this
// application's root object, with the message as its text and the polite live level, which screen
// readers speak as they do a live region's change. It goes out on the connection Qt serves this
// process's widgets on, so the reader finds the application it comes from; while no screen reader
// runs Qt has no such connection and nothing is sent.
class AtspiAnnouncer final : public AccessibilityAnnouncer {
public:
    void announce(const QString &message) override;
};

} // namespace zq::platform

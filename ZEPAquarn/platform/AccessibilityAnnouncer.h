#pragma once

#include <QString>

namespace zq::platform {

// Has the screen reader speak a short message that is shown nowhere else, without moving the focus:
// a result the user would otherwise miss. Spoken politely, after what is being read (a medium
// priority). Nothing happens when no assistive technology listens. Main thread.
class AccessibilityAnnouncer {
public:
    virtual ~AccessibilityAnnouncer() = default;

    virtual void announce(const QString &message) = 0;
};

} // namespace zq::platform

#pragma once

#include "platform/KeySynthesizer.h"

#include <QByteArray>

#include <memory>

namespace zq::platform {

class X11Connection;
class X11SyntheticKeys;

// The paste chords through XTest, as typed on the keyboard, delivered to the window with the keyboard
// focus. Every key posted is announced to `ownKeys` first, so the event tap drops it. A modifier of the
// chord that the user already holds (a Control key for Control+V) is not posted again.
//
// XTest cannot let go of a key that another device holds (the server keeps key state per device), so
// held modifiers are not released here: heldModifiers() lets the caller wait for them instead.
class X11KeySynthesizer final : public KeySynthesizer {
public:
    explicit X11KeySynthesizer(std::shared_ptr<X11SyntheticKeys> ownKeys, QByteArray displayName = qgetenv("DISPLAY"));
    ~X11KeySynthesizer() override;

    std::uint64_t heldModifiers() override;
    bool postPasteChord(PasteChord chord) override;

private:
    // The connection, opened or reopened when needed; null when the session has no XTest.
    X11Connection *connection();

    std::shared_ptr<X11SyntheticKeys> m_ownKeys;
    QByteArray m_displayName;
    std::unique_ptr<X11Connection> m_connection;
    bool m_reportedFailure = false;
};

} // namespace zq::platform

#pragma once

#include "platform/DesktopAppearance.h"

namespace zq::test {

// A desktop whose colour scheme and reduce-motion flag the test sets; every set emits `changed`.
class FakeDesktopAppearance final : public platform::DesktopAppearance {
public:
    std::optional<ColorScheme> colorScheme() const override { return m_scheme; }
    bool reduceMotion() const override { return m_reduceMotion; }

    void setColorScheme(std::optional<ColorScheme> scheme)
    {
        m_scheme = scheme;
        emit changed();
    }
    void setReduceMotion(bool reduce)
    {
        m_reduceMotion = reduce;
        emit changed();
    }

private:
    std::optional<ColorScheme> m_scheme;
    bool m_reduceMotion = false;
};

} // namespace zq::test

#include "menubar/PillPanel.h"

#include "runtime/Log.h"

namespace zq {

PillPanel::PillPanel(AudioEngine &audio, Colorway colorway) : m_audio(audio), m_colorway(colorway) {}

PillPanel::~PillPanel() = default;

void PillPanel::update(const PillState &state)
{
    if (state.kind() != m_state.kind())
        qCDebug(lcPill) << "pill: state" << static_cast<int>(state.kind());
    m_state = state;
    m_history.push_back(state);
}

} // namespace zq

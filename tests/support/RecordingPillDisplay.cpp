#include "support/RecordingPillDisplay.h"

#include "runtime/Log.h"

namespace zq {

RecordingPillDisplay::RecordingPillDisplay(AudioEngine &audio, Colorway colorway) : m_audio(audio), m_colorway(colorway)
{}

RecordingPillDisplay::~RecordingPillDisplay() = default;

void RecordingPillDisplay::update(const PillState &state)
{
    if (state.kind() != m_state.kind())
        qCDebug(lcPill) << "pill: state" << static_cast<int>(state.kind());
    m_state = state;
    m_history.push_back(state);
}

} // namespace zq

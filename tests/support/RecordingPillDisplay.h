#pragma once

#include "pipeline/Colorway.h"
#include "pipeline/PillDisplay.h"
#include "pipeline/PillState.h"

#include <vector>

namespace zq {

class AudioEngine;

// The window-less pill: it keeps the state it was last told and every state in order, and draws
// nothing. The controller's tests drive it; the application draws through PillPanelWindow.
//
// Main thread only.
class RecordingPillDisplay final : public PillDisplay {
public:
    // `audio` is where a pill reads the level history and whether capture is live; it must
    // outlive the pill. Nothing is shown until the first update().
    RecordingPillDisplay(AudioEngine &audio, Colorway colorway);
    ~RecordingPillDisplay() override;
    RecordingPillDisplay(const RecordingPillDisplay &) = delete;
    RecordingPillDisplay &operator=(const RecordingPillDisplay &) = delete;

    void update(const PillState &state) override;

    const PillState &state() const { return m_state; }
    // Every state passed to update(), oldest first.
    const std::vector<PillState> &history() const { return m_history; }
    bool isShown() const { return !m_state.is(PillState::Kind::hidden); }

    Colorway colorway() const override { return m_colorway; }
    void setColorway(Colorway colorway) override { m_colorway = colorway; }

    AudioEngine &audio() const { return m_audio; }

private:
    AudioEngine &m_audio;
    Colorway m_colorway;
    PillState m_state = PillState::hidden();
    std::vector<PillState> m_history;
};

} // namespace zq

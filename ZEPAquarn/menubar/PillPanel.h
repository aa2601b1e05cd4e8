#pragma once

#include "menubar/PillState.h"
#include "pipeline/Colorway.h"

#include <vector>

namespace zq {

class AudioEngine;

// The floating pill that shows the phase of a take. The dictation controller drives it only
// through update(), right after every change of its own pill state.
//
// This is the window-less pill: it keeps the state it was last told and every state in order,
// and draws nothing. update() is virtual so that the controller, which lives below the view
// library, reaches the drawn pill through this class without linking to it.
//
// Main thread only.
class PillPanel {
public:
    // `audio` is where the pill reads the level history and whether capture is live; it must
    // outlive the pill. Nothing is shown until the first update().
    PillPanel(AudioEngine &audio, Colorway colorway);
    virtual ~PillPanel();
    PillPanel(const PillPanel &) = delete;
    PillPanel &operator=(const PillPanel &) = delete;

    // Shows, changes or hides the pill to match `state`. Never fails.
    virtual void update(const PillState &state);

    const PillState &state() const { return m_state; }
    // Every state passed to update(), oldest first.
    const std::vector<PillState> &history() const { return m_history; }
    bool isShown() const { return !m_state.is(PillState::Kind::hidden); }

    Colorway colorway() const { return m_colorway; }
    // The worn skin; the pill redraws in it.
    void setColorway(Colorway colorway) { m_colorway = colorway; }

    AudioEngine &audio() const { return m_audio; }

private:
    AudioEngine &m_audio;
    Colorway m_colorway;
    PillState m_state = PillState::hidden();
    std::vector<PillState> m_history;
};

} // namespace zq

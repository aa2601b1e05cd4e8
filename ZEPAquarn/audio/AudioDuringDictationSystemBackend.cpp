#include "audio/AudioDuringDictationSystemBackend.h"

#include "runtime/Task.h"

#include <algorithm>
#include <cmath>

namespace zq {

namespace {

struct Leg {
    std::shared_ptr<AudioDuringDictationSystemBackend::VolumeControl> control;
    float from = 0;
    float to = 0;
};

bool isUnitLevel(float level)
{
    return std::isfinite(level) && level >= 0.0f && level <= 1.0f;
}

} // namespace

struct AudioDuringDictationSystemBackend::State {
    rt::MainLoop &loop;
    platform::OutputVolume &volume;
    platform::MediaPlayers &players;
    std::shared_ptr<VolumeSnapshot> snapshot;
    rt::TaskHandle<void> rampTask;
    std::vector<platform::MediaPlayer> paused;

    // Reads the control's level; marks it overridden when the read fails or the user moved it.
    std::optional<float> untouchedLevel(const VolumeSnapshot &owner, VolumeControl &control)
    {
        const std::optional<float> level = volume.volume(owner.device, control.element);
        if (!level || std::abs(*level - control.lastApplied) >= kOverrideThreshold) {
            control.userOverrode = true;
            return std::nullopt;
        }
        return level;
    }

    void cancelRamp()
    {
        if (rampTask.isValid())
            rampTask.cancel();
        rampTask = {};
    }
};

namespace {

rt::Task<void> runRamp(std::weak_ptr<AudioDuringDictationSystemBackend::State> weakState,
                       std::shared_ptr<AudioDuringDictationSystemBackend::VolumeSnapshot> snapshot,
                       std::vector<Leg> legs, bool restoring, rt::Nanos stepTime)
{
    using Backend = AudioDuringDictationSystemBackend;
    constexpr float pi = 3.1415925f;
    for (int i = 1; i <= Backend::kRampSteps; ++i) {
        co_await rt::sleepFor(stepTime); // a cancelled ramp ends here and changes nothing more
        const auto state = weakState.lock();
        if (!state)
            co_return;
        const float t = float(i) / float(Backend::kRampSteps);
        const float eased = (1.0f - std::cos(pi * std::min(t, 1.0f))) * 0.5f;
        for (Leg &leg : legs) {
            Backend::VolumeControl &control = *leg.control;
            if (control.userOverrode || !state->untouchedLevel(*snapshot, control))
                continue;
            const float level = leg.from + eased * (leg.to - leg.from);
            if (!isUnitLevel(level) || !state->volume.setVolume(snapshot->device, control.element, level)) {
                control.userOverrode = true;
                continue;
            }
            control.lastApplied = state->volume.volume(snapshot->device, control.element).value_or(level);
        }
    }
    const auto state = weakState.lock();
    if (state && state->snapshot == snapshot) {
        state->rampTask = {};
        if (restoring)
            state->snapshot.reset();
    }
}

} // namespace

AudioDuringDictationSystemBackend::AudioDuringDictationSystemBackend(rt::MainLoop &loop, platform::OutputVolume &volume,
                                                                     platform::MediaPlayers &players)
    : m_state(std::make_shared<State>(State{loop, volume, players, {}, {}, {}}))
{}

AudioDuringDictationSystemBackend::~AudioDuringDictationSystemBackend()
{
    m_state->cancelRamp();
}

bool AudioDuringDictationSystemBackend::lowerVolume()
{
    if (const std::shared_ptr<VolumeSnapshot> held = m_state->snapshot) {
        // A restore still in flight: lower again from where it is, keeping the first originals.
        const bool anyUntouched = std::any_of(held->controls.begin(), held->controls.end(),
                                              [](const auto &control) { return !control->userOverrode; });
        if (!anyUntouched)
            return false;
        ramp(m_state, held, false, rt::seconds(kLoweringSeconds));
        return true;
    }

    const std::optional<platform::OutputDeviceId> device = m_state->volume.defaultOutputDevice();
    if (!device)
        return false;
    auto snapshot = std::make_shared<VolumeSnapshot>();
    snapshot->device = *device;
    for (std::uint32_t element : volumeAddresses(*device)) {
        const std::optional<float> level = m_state->volume.volume(*device, element);
        if (!level || !isUnitLevel(*level))
            continue;
        auto control = std::make_shared<VolumeControl>();
        control->element = element;
        control->original = *level;
        control->lowered = std::clamp(*level * kLoweredFactor, 0.0f, 1.0f);
        control->lastApplied = *level;
        snapshot->controls.push_back(std::move(control));
    }
    if (snapshot->controls.empty())
        return false;
    m_state->snapshot = snapshot;
    ramp(m_state, snapshot, false, rt::seconds(kLoweringSeconds));
    return true;
}

void AudioDuringDictationSystemBackend::rampVolumeBack()
{
    if (m_state->snapshot)
        ramp(m_state, m_state->snapshot, true, rt::seconds(kRestoringSeconds));
}

void AudioDuringDictationSystemBackend::ramp(const std::shared_ptr<State> &state,
                                             const std::shared_ptr<VolumeSnapshot> &snapshot, bool restoring,
                                             rt::Nanos duration)
{
    state->cancelRamp();
    std::vector<Leg> legs;
    for (const auto &control : snapshot->controls) {
        if (control->userOverrode)
            continue;
        const std::optional<float> level = state->untouchedLevel(*snapshot, *control);
        if (!level)
            continue;
        legs.push_back(Leg{control, *level, restoring ? control->original : control->lowered});
    }
    if (legs.empty()) {
        if (restoring && state->snapshot == snapshot)
            state->snapshot.reset();
        return;
    }
    state->rampTask =
        rt::spawn(state->loop, runRamp(state, snapshot, std::move(legs), restoring, duration / kRampSteps));
}

void AudioDuringDictationSystemBackend::restoreVolume()
{
    const std::shared_ptr<VolumeSnapshot> snapshot = std::exchange(m_state->snapshot, nullptr);
    if (!snapshot)
        return;
    m_state->cancelRamp();
    for (const auto &control : snapshot->controls) {
        if (control->userOverrode)
            continue;
        const std::optional<float> level = m_state->volume.volume(snapshot->device, control->element);
        if (level && std::abs(*level - control->lastApplied) < kOverrideThreshold && isUnitLevel(control->original))
            (void)m_state->volume.setVolume(snapshot->device, control->element, control->original);
    }
}

bool AudioDuringDictationSystemBackend::pausePlayingPlayers()
{
    for (const platform::MediaPlayer &player : m_state->players.players()) {
        if (player.status == platform::PlaybackStatus::playing && m_state->players.pause(player))
            m_state->paused.push_back(player);
    }
    return !m_state->paused.empty();
}

void AudioDuringDictationSystemBackend::resumePausedPlayers()
{
    const std::vector<platform::MediaPlayer> paused = std::exchange(m_state->paused, {});
    if (paused.empty())
        return;
    for (const platform::MediaPlayer &now : m_state->players.players()) {
        // Only the very instances we paused, and only while still paused: one the user resumed,
        // stopped, or that quit and came back is theirs again.
        const bool ours = std::any_of(paused.begin(), paused.end(), [&](const platform::MediaPlayer &was) {
            return was.name == now.name && was.instance == now.instance;
        });
        if (ours && now.status == platform::PlaybackStatus::paused)
            (void)m_state->players.play(now);
    }
}

bool AudioDuringDictationSystemBackend::isOutputRunning()
{
    const std::optional<platform::OutputDeviceId> device = m_state->volume.defaultOutputDevice();
    return device && m_state->volume.isRunning(*device).value_or(false);
}

std::vector<std::uint32_t> AudioDuringDictationSystemBackend::volumeAddresses(platform::OutputDeviceId device)
{
    if (m_state->volume.isVolumeSettable(device, 0))
        return {0};
    const std::optional<std::uint32_t> channels = m_state->volume.outputChannelCount(device);
    std::vector<std::uint32_t> elements;
    for (std::uint32_t channel = 1; channels && channel <= *channels; ++channel) {
        if (m_state->volume.isVolumeSettable(device, channel))
            elements.push_back(channel);
    }
    return elements;
}

std::shared_ptr<const AudioDuringDictationSystemBackend::VolumeSnapshot>
AudioDuringDictationSystemBackend::volumeSnapshot() const
{
    return m_state->snapshot;
}

bool AudioDuringDictationSystemBackend::isRamping() const
{
    return m_state->rampTask.isValid() && !m_state->rampTask.isDone();
}

} // namespace zq

#include "pipeline/SoundCuePlayer.h"

#include "pipeline/SettingsDefaults.h"
#include "runtime/Log.h"
#include "runtime/SerialQueue.h"
#include "runtime/Settings.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>

namespace zq {

namespace {

constexpr double kEnvelopeFloor = 0.0001;
constexpr double kTailPadding = 0.05;
constexpr double kLogEchoTailThreshold = -6.907755278982137; // ln(0.001)
constexpr double kFilterCapRatio = 0.49;
constexpr std::uint64_t kNoiseSeed = 0x5EED0CE5;
// The WAV header counts bytes in 32 bits: 2n + 36 must fit.
constexpr double kMaxSamples = (double(std::numeric_limits<std::uint32_t>::max()) - 36.0) / 2.0;

struct Biquad {
    double b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;

    // Direct form I.
    double process(double x)
    {
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

double omegaFor(double frequency, double sampleRate)
{
    return 2.0 * std::numbers::pi * std::min(frequency, kFilterCapRatio * sampleRate) / sampleRate;
}

Biquad normalised(double b0, double b1, double b2, double alpha, double omega)
{
    const double a0 = 1.0 + alpha;
    Biquad filter;
    filter.b0 = b0 / a0;
    filter.b1 = b1 / a0;
    filter.b2 = b2 / a0;
    filter.a1 = (-2.0 * std::cos(omega)) / a0;
    filter.a2 = (1.0 - alpha) / a0;
    return filter;
}

// Low-pass with a resonance given as a linear Q.
Biquad lowPass(double frequency, double qLinear, double sampleRate)
{
    const double omega = omegaFor(frequency, sampleRate);
    const double alpha = std::sin(omega) / (2.0 * qLinear);
    const double c = 1.0 - std::cos(omega);
    return normalised(c / 2.0, c, c / 2.0, alpha, omega);
}

// Band-pass with a constant 0 dB peak.
Biquad bandPass(double frequency, double q, double sampleRate)
{
    const double omega = omegaFor(frequency, sampleRate);
    const double alpha = std::sin(omega) / (2.0 * std::max(q, 0.0001));
    return normalised(alpha, 0.0, -alpha, alpha, omega);
}

class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : m_state(seed) {}
    // White noise in [-1, 1).
    double nextWhite()
    {
        m_state += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = (m_state ^ (m_state >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        const double u = double((z >> 11) ^ (z >> 42)) * 0x1.0p-53;
        return 2.0 * u - 1.0;
    }

private:
    std::uint64_t m_state;
};

double envelope(double t, double attack, double decay, double level)
{
    if (t < attack)
        return kEnvelopeFloor * std::pow(level / kEnvelopeFloor, t / attack);
    const double u = t - attack;
    if (decay > 0 && u < decay)
        return level * std::pow(kEnvelopeFloor / level, u / decay);
    return kEnvelopeFloor;
}

struct VoiceTiming {
    double start, attack, decay, level;
};

VoiceTiming timingOf(const CueVoice &voice)
{
    return std::visit([](const auto &v) { return VoiceTiming{v.start, v.attack, v.decay, v.level}; }, voice);
}

// Adds one voice to `buffer`; `sample(t)` gives the voice's raw sample at its own time t.
template <typename SampleFn>
void addVoice(std::vector<double> &buffer, const VoiceTiming &timing, double rate, SampleFn sample)
{
    const double firstIndex = std::floor(timing.start * rate);
    const double count = std::floor((timing.attack + timing.decay + kTailPadding) * rate);
    if (!std::isfinite(firstIndex) || !std::isfinite(count))
        return;
    const double size = double(buffer.size());
    for (double i = 0; i < count; ++i) {
        const double index = firstIndex + i;
        if (index >= size)
            break;
        const double t = i / rate;
        // Computed even before the buffer's start, so a filter's or phase's state stays right.
        const double value = sample(t) * envelope(t, timing.attack, timing.decay, timing.level);
        if (index >= 0)
            buffer[std::size_t(index)] += value;
    }
}

} // namespace

SoundCuePlayer::SoundCuePlayer(rt::Settings &settings, platform::AudioPlayerFactory &factory,
                               std::unique_ptr<rt::Executor> queue)
    : m_settings(settings), m_factory(factory),
      m_queue(queue ? std::move(queue) : std::make_unique<rt::SerialQueue>(QString::fromLatin1(kQueueLabel)))
{
    m_queue->post([this] { prepareCues(); });
}

SoundCuePlayer::~SoundCuePlayer()
{
    // The queue's items use the players: let it finish before they go.
    m_queue.reset();
}

void SoundCuePlayer::play(SoundCue cue)
{
    if (!m_settings.boolValue(keys::soundCues))
        return;
    m_queue->post([this, cue] {
        const auto found = m_players.find(cue);
        if (found == m_players.end())
            return;
        found->second->setCurrentTime(0);
        if (!found->second->play())
            qCDebug(lcSoundCues) << "cue could not be started";
    });
}

void SoundCuePlayer::prepareCues()
{
    for (SoundCue cue : kAllSoundCues) {
        const std::optional<QByteArray> wav = wavData(cueSpec(cue));
        if (!wav)
            continue;
        rt::Result<std::unique_ptr<platform::AudioPlayer>> player = m_factory.makePlayer(*wav);
        if (!player)
            continue;
        player.value()->prepareToPlay();
        m_players[cue] = std::move(player).value();
    }
}

std::vector<float> SoundCuePlayer::renderSamples(const CueSpec &spec, double rate)
{
    double lastEnd = 0;
    for (const CueVoice &voice : spec.voices) {
        const VoiceTiming timing = timingOf(voice);
        const double end = ((timing.start + timing.attack) + timing.decay) + kTailPadding;
        if (!std::isfinite(end))
            return {};
        lastEnd = std::max(lastEnd, end);
    }

    double tail = 0;
    if (!spec.dryOnly && spec.echoFeedback > 0) {
        if (spec.echoFeedback >= 1)
            tail = spec.echoDelay;
        else
            tail = spec.echoDelay * (std::ceil(kLogEchoTailThreshold / std::log(spec.echoFeedback)) + 1.0);
    }

    const double length = std::max(std::ceil(((lastEnd + tail) + kTailPadding) * rate), 1.0);
    // A description that asks for no finite or an absurd length cannot become a cue.
    if (!std::isfinite(length) || length > kMaxSamples || !(rate > 0))
        return {};
    const auto n = std::size_t(length);

    std::vector<double> buffer(n, 0.0);
    SplitMix64 noise(kNoiseSeed); // once per rendering, shared by the noise voices
    for (const CueVoice &voice : spec.voices) {
        const VoiceTiming timing = timingOf(voice);
        if (const auto *tone = std::get_if<CueTone>(&voice)) {
            double phase = 0;
            const double g = tone->glide.value_or(tone->attack + tone->decay);
            addVoice(buffer, timing, rate, [&](double t) {
                double f = tone->frequency;
                if (tone->endFrequency) {
                    f = (g > 0 && t < g) ? tone->frequency * std::pow(*tone->endFrequency / tone->frequency, t / g)
                                         : *tone->endFrequency;
                }
                phase += 2.0 * std::numbers::pi * f / rate;
                return std::sin(phase);
            });
        } else {
            const auto &burst = std::get<CueNoise>(voice);
            Biquad filter = burst.filter == NoiseFilter::bandPass
                                ? bandPass(burst.frequency, burst.q, rate)
                                : lowPass(burst.frequency, std::pow(10.0, burst.q / 20.0), rate);
            addVoice(buffer, timing, rate, [&](double) { return filter.process(noise.nextWhite()); });
        }
    }

    std::vector<double> output(n);
    for (std::size_t i = 0; i < n; ++i)
        output[i] = buffer[i] * spec.gain;

    if (!spec.dryOnly) {
        const double delaySamples = std::max(std::floor(spec.echoDelay * rate), 1.0);
        if (std::isfinite(delaySamples) && delaySamples < length) {
            const auto d = std::size_t(delaySamples);
            Biquad filter = lowPass(spec.echoCutoff, std::pow(10.0, 1.0 / 20.0), rate);
            std::vector<double> line(n, 0.0);
            for (std::size_t i = 0; i + d < n; ++i) {
                const double x = buffer[i] * spec.gain + spec.echoFeedback * line[i];
                const double y = filter.process(x);
                line[i + d] = y;
                output[i + d] += spec.echoMix * y;
            }
        }
    }

    std::vector<float> samples(n);
    std::transform(output.begin(), output.end(), samples.begin(), [](double v) { return float(v); });
    return samples;
}

qint16 SoundCuePlayer::pcm16(float sample)
{
    if (std::isnan(sample))
        return 0;
    return qint16(std::clamp(sample, -1.0f, 1.0f) * 32767.0f);
}

std::optional<QByteArray> SoundCuePlayer::wavData(const CueSpec &spec)
{
    const std::vector<float> samples = renderSamples(spec, kSampleRateHz);
    if (samples.empty())
        return std::nullopt;
    const auto dataBytes = std::uint32_t(samples.size() * 2);

    QByteArray wav(qsizetype(44 + std::size_t(dataBytes)), Qt::Uninitialized);
    char *p = wav.data();
    auto put32 = [&p](std::uint32_t v) {
        qToLittleEndian(v, p);
        p += 4;
    };
    auto put16 = [&p](std::uint16_t v) {
        qToLittleEndian(v, p);
        p += 2;
    };
    auto putTag = [&p](const char *tag) {
        std::copy_n(tag, 4, p);
        p += 4;
    };
    putTag("RIFF");
    put32(dataBytes + 36);
    putTag("WAVE");
    putTag("fmt ");
    put32(16);
    put16(1); // integer PCM
    put16(1); // mono
    put32(kSampleRateHz);
    put32(kSampleRateHz * 2);
    put16(2);
    put16(16);
    putTag("data");
    put32(dataBytes);
    for (float sample : samples)
        put16(std::uint16_t(pcm16(sample)));
    return wav;
}

} // namespace zq

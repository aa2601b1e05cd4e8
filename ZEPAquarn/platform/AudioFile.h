#pragma once

#include "platform/AudioFormat.h"
#include "platform/PCMBuffer.h"
#include "runtime/Result.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace zq::platform {

// An audio file on disk, opened either for reading (any format libsndfile reads, WAV above all) or
// for writing (always WAV, 32-bit float or 16-bit integer samples).
//
// Samples cross this class as float32 planar PCMBuffers whatever the file stores: reading scales
// integer samples to [-1, 1), writing to 16-bit clips out-of-range samples instead of wrapping them.
// One object is used by one thread at a time. Failures come back as rt::Error values with a
// sentence fit for a user; the domain is errorDomain and the code libsndfile's error number.
class AudioFile {
public:
    static inline const QString errorDomain = QStringLiteral("io.quorvane.zepaquarn.audio-file");

    // Opens an existing file. Fails for a missing or unreadable file, a file that is not audio
    // (an empty file included) and an encoding libsndfile cannot decode.
    static rt::Result<std::unique_ptr<AudioFile>> openForReading(const QString &path);

    // Creates (or truncates) a WAV file. `settings` gives the sample rate, the channel count and the
    // stored sample type (commonFormat float32 or int16); `interleaved` is ignored.
    static rt::Result<std::unique_ptr<AudioFile>> createForWriting(const QString &path, const AudioFormat &settings);

    ~AudioFile();
    AudioFile(const AudioFile &) = delete;
    AudioFile &operator=(const AudioFile &) = delete;

    const QString &path() const { return m_path; }
    // How the file stores its samples (int16 or float32; other encodings read as float32).
    const AudioFormat &fileFormat() const { return m_fileFormat; }
    // The shape of the buffers read from or written to it: float32, planar, the file's rate and channels.
    AudioFormat processingFormat() const;
    // Frames in the file: its length when reading, the frames written so far when writing.
    std::int64_t length() const { return m_length; }

    // Reads the next block of at most maxFrames frames. A buffer with 0 frames means the end.
    rt::Result<std::shared_ptr<PCMBuffer>> read(std::uint32_t maxFrames);

    // Appends the buffer's valid frames. Its channel count and sample rate must match the file's.
    rt::Result<void> write(const PCMBuffer &buffer);

    // Flushes and closes; further reads and writes fail. Called by the destructor when still open.
    rt::Result<void> close();
    bool isOpen() const { return m_handle != nullptr; }

private:
    enum class Mode { reading, writing };
    AudioFile(QString path, Mode mode, void *handle, AudioFormat fileFormat, std::int64_t length);

    QString m_path;
    Mode m_mode;
    void *m_handle; // SNDFILE*, kept opaque so the header stays free of <sndfile.h>
    AudioFormat m_fileFormat;
    std::int64_t m_length;
    std::vector<float> m_interleaved; // scratch for the interleaved samples libsndfile speaks
};

} // namespace zq::platform

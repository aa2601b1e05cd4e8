#include "platform/AudioFile.h"

#include "runtime/Log.h"

#include <QFile>
#include <QFileInfo>

#include <sndfile.h>

#include <algorithm>
#include <limits>
#include <utility>

namespace zq::platform {

namespace {

SNDFILE *sndfile(void *handle)
{
    return static_cast<SNDFILE *>(handle);
}

// libsndfile's own strings name its internals ("unknown format", "SF_ERR_…"); callers get a sentence.
rt::Error openError(const QString &path, int code)
{
    QString message;
    switch (code) {
    case SF_ERR_UNRECOGNISED_FORMAT:
        message = QStringLiteral("The file is not a recognised audio file.");
        break;
    case SF_ERR_UNSUPPORTED_ENCODING:
        message = QStringLiteral("The audio file uses an encoding that is not supported.");
        break;
    case SF_ERR_MALFORMED_FILE:
        message = QStringLiteral("The audio file is damaged.");
        break;
    default:
        message = QFileInfo::exists(path) ? QStringLiteral("The audio file could not be opened.")
                                          : QStringLiteral("The audio file does not exist.");
        break;
    }
    return rt::makeError(message, AudioFile::errorDomain, code);
}

AudioFormat::CommonFormat commonFormatOf(int sndFormat)
{
    switch (sndFormat & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return AudioFormat::CommonFormat::int16;
    default:
        return AudioFormat::CommonFormat::float32;
    }
}

} // namespace

AudioFile::AudioFile(QString path, Mode mode, void *handle, AudioFormat fileFormat, std::int64_t length)
    : m_path(std::move(path)), m_mode(mode), m_handle(handle), m_fileFormat(fileFormat), m_length(length)
{}

AudioFile::~AudioFile()
{
    if (m_handle)
        (void)close();
}

rt::Result<std::unique_ptr<AudioFile>> AudioFile::openForReading(const QString &path)
{
    // A zero-byte file is "not audio" too, but libsndfile reports it as a system error.
    if (QFileInfo fi(path); fi.isFile() && fi.size() == 0)
        return openError(path, SF_ERR_UNRECOGNISED_FORMAT);
    if (QFileInfo(path).isDir())
        return openError(path, SF_ERR_UNRECOGNISED_FORMAT);

    SF_INFO info{};
    SNDFILE *handle = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!handle)
        return openError(path, sf_error(nullptr));
    if (info.channels < 1 || info.samplerate < 1) {
        sf_close(handle);
        return openError(path, SF_ERR_UNSUPPORTED_ENCODING);
    }
    AudioFormat format;
    format.sampleRate = info.samplerate;
    format.channelCount = info.channels;
    format.commonFormat = commonFormatOf(info.format);
    format.interleaved = true;
    return std::unique_ptr<AudioFile>(new AudioFile(path, Mode::reading, handle, format, info.frames));
}

rt::Result<std::unique_ptr<AudioFile>> AudioFile::createForWriting(const QString &path, const AudioFormat &settings)
{
    if (!settings.isValid() || settings.sampleRate > std::numeric_limits<int>::max())
        return rt::makeError(QStringLiteral("The audio file settings are not valid."), errorDomain,
                             SF_ERR_UNSUPPORTED_ENCODING);
    SF_INFO info{};
    info.samplerate = static_cast<int>(settings.sampleRate);
    info.channels = settings.channelCount;
    info.format = SF_FORMAT_WAV |
                  (settings.commonFormat == AudioFormat::CommonFormat::int16 ? SF_FORMAT_PCM_16 : SF_FORMAT_FLOAT);
    if (!sf_format_check(&info))
        return rt::makeError(QStringLiteral("The audio file settings are not supported."), errorDomain,
                             SF_ERR_UNSUPPORTED_ENCODING);
    SNDFILE *handle = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!handle) {
        const int code = sf_error(nullptr);
        qCWarning(lcAudio) << "audio file create failed:" << sf_error_number(code);
        return rt::makeError(QStringLiteral("The audio file could not be created."), errorDomain, code);
    }
    // Without this a float sample above 1.0 wraps round to a loud negative value in a 16-bit file.
    sf_command(handle, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    AudioFormat format = settings;
    format.interleaved = true;
    return std::unique_ptr<AudioFile>(new AudioFile(path, Mode::writing, handle, format, 0));
}

AudioFormat AudioFile::processingFormat() const
{
    AudioFormat format = m_fileFormat;
    format.commonFormat = AudioFormat::CommonFormat::float32;
    format.interleaved = false;
    return format;
}

rt::Result<std::shared_ptr<PCMBuffer>> AudioFile::read(std::uint32_t maxFrames)
{
    if (!m_handle || m_mode != Mode::reading)
        return rt::makeError(QStringLiteral("The audio file is not open for reading."), errorDomain, SF_ERR_SYSTEM);
    const int channels = m_fileFormat.channelCount;
    auto buffer = std::make_shared<PCMBuffer>(processingFormat(), maxFrames);
    if (maxFrames == 0)
        return buffer;
    m_interleaved.resize(static_cast<std::size_t>(maxFrames) * static_cast<std::size_t>(channels));
    const sf_count_t got = sf_readf_float(sndfile(m_handle), m_interleaved.data(), maxFrames);
    if (got < 0 || (got == 0 && sf_error(sndfile(m_handle)) != SF_ERR_NO_ERROR)) {
        const int code = sf_error(sndfile(m_handle));
        qCWarning(lcAudio) << "audio file read failed:" << sf_strerror(sndfile(m_handle));
        return rt::makeError(QStringLiteral("The audio file could not be read."), errorDomain, code);
    }
    const auto frames = static_cast<std::uint32_t>(got);
    for (int c = 0; c < channels; ++c) {
        float *plane = buffer->channelData(c);
        const float *source = m_interleaved.data() + c;
        for (std::uint32_t i = 0; i < frames; ++i)
            plane[i] = source[static_cast<std::size_t>(i) * static_cast<std::size_t>(channels)];
    }
    buffer->setFrameLength(frames);
    return buffer;
}

rt::Result<void> AudioFile::write(const PCMBuffer &buffer)
{
    if (!m_handle || m_mode != Mode::writing)
        return rt::makeError(QStringLiteral("The audio file is not open for writing."), errorDomain, SF_ERR_SYSTEM);
    const int channels = m_fileFormat.channelCount;
    if (buffer.channelCount() != channels ||
        (buffer.format().sampleRate > 0 && buffer.format().sampleRate != m_fileFormat.sampleRate))
        return rt::makeError(QStringLiteral("The audio does not match the file's format."), errorDomain,
                             SF_ERR_UNSUPPORTED_ENCODING);
    const std::uint32_t frames = buffer.frameLength();
    if (frames == 0)
        return {};
    m_interleaved.resize(static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels));
    for (int c = 0; c < channels; ++c) {
        const float *plane = buffer.channelData(c);
        float *target = m_interleaved.data() + c;
        for (std::uint32_t i = 0; i < frames; ++i)
            target[static_cast<std::size_t>(i) * static_cast<std::size_t>(channels)] = plane[i];
    }
    const sf_count_t written = sf_writef_float(sndfile(m_handle), m_interleaved.data(), frames);
    if (written > 0)
        m_length += written;
    if (written != static_cast<sf_count_t>(frames)) {
        const int code = sf_error(sndfile(m_handle));
        qCWarning(lcAudio) << "audio file write failed:" << sf_strerror(sndfile(m_handle));
        return rt::makeError(QStringLiteral("The audio file could not be written (the disk may be full)."), errorDomain,
                             code == 0 ? SF_ERR_SYSTEM : code);
    }
    return {};
}

rt::Result<void> AudioFile::close()
{
    if (!m_handle)
        return {};
    SNDFILE *handle = sndfile(std::exchange(m_handle, nullptr));
    if (m_mode == Mode::writing)
        sf_write_sync(handle);
    const int code = sf_close(handle);
    if (code != 0) {
        qCWarning(lcAudio) << "audio file close failed:" << sf_error_number(code);
        return rt::makeError(QStringLiteral("The audio file could not be closed."), errorDomain, code);
    }
    return {};
}

} // namespace zq::platform

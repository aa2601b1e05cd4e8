#pragma once

#include "platform/AudioFormat.h"
#include "platform/PCMBuffer.h"
#include "runtime/AsyncChannel.h"

#include <QString>

#include <variant>

namespace zq {

// The audio of one take as a transcription engine receives it: either the buffers delivered live
// while recording (`stream`; the channel only ever finishes, never fails) with the format that
// describes them, or a finished take file (`file`).
class AudioSource {
public:
    struct Stream {
        rt::AsyncChannel<platform::SharedPCMBuffer> buffers;
        platform::AudioFormat format;
    };
    struct File {
        QString path;
    };

    static AudioSource stream(rt::AsyncChannel<platform::SharedPCMBuffer> buffers, platform::AudioFormat format)
    {
        return AudioSource(Stream{std::move(buffers), format});
    }
    static AudioSource file(QString path) { return AudioSource(File{std::move(path)}); }

    bool isStream() const { return std::holds_alternative<Stream>(m_value); }
    bool isFile() const { return std::holds_alternative<File>(m_value); }
    // The payload of the matching case, or null for the other case.
    const Stream *asStream() const { return std::get_if<Stream>(&m_value); }
    const File *asFile() const { return std::get_if<File>(&m_value); }

private:
    explicit AudioSource(std::variant<Stream, File> value) : m_value(std::move(value)) {}

    std::variant<Stream, File> m_value;
};

} // namespace zq

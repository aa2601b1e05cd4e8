#include "support/SpokenText.h"

#include "platform/AudioConverter.h"
#include "platform/AudioFile.h"

#include <QProcess>
#include <QTemporaryDir>

namespace zq::test {

std::vector<float> speakText(const QString &text, const QString &voice, int wordsPerMinute)
{
    QTemporaryDir folder;
    const QString wav = folder.filePath(QStringLiteral("spoken.wav"));
    QProcess espeak;
    espeak.start(QStringLiteral("espeak-ng"), {QStringLiteral("-v"), voice, QStringLiteral("-s"),
                                               QString::number(wordsPerMinute), QStringLiteral("-w"), wav, text});
    if (!espeak.waitForFinished(30000) || espeak.exitStatus() != QProcess::NormalExit || espeak.exitCode() != 0)
        return {};
    auto file = platform::AudioFile::openForReading(wav);
    if (!file)
        return {};
    platform::AudioFormat mono16k;
    mono16k.sampleRate = 16000;
    mono16k.channelCount = 1;
    auto converter = platform::AudioConverter::create(file.value()->processingFormat(), mono16k);
    if (!converter)
        return {};
    std::vector<float> samples;
    auto append = [&](const rt::Result<std::shared_ptr<platform::PCMBuffer>> &block) {
        if (block)
            samples.insert(samples.end(), block.value()->channelData(0),
                           block.value()->channelData(0) + block.value()->frameLength());
    };
    for (;;) {
        auto block = file.value()->read(8192);
        if (!block || block.value()->frameLength() == 0)
            break;
        append(converter.value()->convert(*block.value()));
    }
    append(converter.value()->flush());
    return samples;
}

} // namespace zq::test

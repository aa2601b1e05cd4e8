#include "pipeline/AudioSource.h"
#include "pipeline/TranscriptUpdate.h"
#include "pipeline/ZEPAError.h"

#include <gtest/gtest.h>

using zq::TranscriptUpdate;
using zq::ZEPAError;

TEST(ContractTypesTest, ErrorDescriptionsAreTheExactTexts)
{
    EXPECT_EQ(ZEPAError::wrongAudioSource().errorDescription(),
              "Internal error: backend received the wrong audio source type.");
    EXPECT_EQ(ZEPAError::noAPIKey().errorDescription(),
              "No OpenAI API key set. Add one in Settings, or switch to the Local backend.");
    EXPECT_EQ(ZEPAError::transcriptionFailed("Network error — check your connection").errorDescription(),
              "Network error — check your connection");
    EXPECT_EQ(ZEPAError::transcriptionFailed("").errorDescription(), "");
}

TEST(ContractTypesTest, AnErrorKeepsItsKindAndTextThroughAStreamFailure)
{
    // Streams carry failures as exception_ptr; the consumer must get the same error back.
    const std::exception_ptr failure = std::make_exception_ptr(ZEPAError::transcriptionFailed("Überlastet"));
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception &error) {
        EXPECT_STREQ(error.what(), "Überlastet");
        const auto *typed = dynamic_cast<const ZEPAError *>(&error);
        ASSERT_NE(typed, nullptr);
        EXPECT_EQ(*typed, ZEPAError::transcriptionFailed("Überlastet"));
        EXPECT_NE(*typed, ZEPAError::noAPIKey());
    }
}

TEST(ContractTypesTest, UpdatesAndSourcesCompareByCaseAndPayload)
{
    EXPECT_EQ(TranscriptUpdate::partial("hi"), TranscriptUpdate::partial("hi"));
    EXPECT_NE(TranscriptUpdate::partial("hi"), TranscriptUpdate::final("hi"));
    EXPECT_NE(TranscriptUpdate::final("hi"), TranscriptUpdate::final("hi."));

    const auto file = zq::AudioSource::file("/run/take.wav");
    ASSERT_TRUE(file.isFile());
    EXPECT_EQ(file.asFile()->path, "/run/take.wav");
    EXPECT_EQ(file.asStream(), nullptr);

    const zq::platform::AudioFormat format{48000, 1};
    const auto stream = zq::AudioSource::stream({}, format);
    ASSERT_TRUE(stream.isStream());
    EXPECT_EQ(stream.asStream()->format, format);
    EXPECT_EQ(stream.asFile(), nullptr);
}

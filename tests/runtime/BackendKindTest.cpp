#include "runtime/BackendKind.h"

#include <gtest/gtest.h>

#include <optional>

using zq::BackendKind;

// The stored texts are what settings files and incidents written by earlier versions hold: they
// round-trip exactly, and every other text keeps meaning the on-device engine.
TEST(BackendKindTest, StoredTextsRoundTripAndAnythingButOpenAIIsOnDevice)
{
    struct Case {
        const char *stored;
        std::optional<BackendKind> exact;
        BackendKind selected;
    };
    for (const Case &c :
         {Case{"local", BackendKind::local, BackendKind::local},
          Case{"openai", BackendKind::openai, BackendKind::openai}, Case{"", std::nullopt, BackendKind::local},
          Case{"OpenAI", std::nullopt, BackendKind::local}, Case{"openai ", std::nullopt, BackendKind::local},
          Case{"Local", std::nullopt, BackendKind::local}, Case{"whisper", std::nullopt, BackendKind::local}}) {
        const QString stored = QString::fromLatin1(c.stored);
        EXPECT_EQ(zq::fromRawValue<BackendKind>(stored), c.exact) << c.stored;
        EXPECT_EQ(zq::backendKindOf(stored), c.selected) << c.stored;
        if (c.exact) {
            EXPECT_EQ(zq::rawValue(*c.exact), stored);
        }
    }
}

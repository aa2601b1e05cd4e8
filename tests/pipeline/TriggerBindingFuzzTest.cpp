#include "pipeline/TriggerBinding.h"
#include "support/TriggerTestSupport.h"

#include <gtest/gtest.h>

#include <random>

// Randomised decoding of stored trigger texts: any text must decode to a well-formed binding or to nothing,
// and whatever decodes must encode to a text that decodes to the same binding. Seeded and bounded, so it
// runs in every build, including the sanitizer build.
namespace zq {
namespace {

const QString seeds[] = {
    "fn",
    "f20",
    "right-option",
    "key:12:A",
    "key:-9223372036854775808:A",
    "modifier:58:524288:Left Alt",
    "modifier:63:8388608:Fn",
    "shortcut:1:1048576:Super+S",
    "shortcut:0:18446744073709551615:A",
    "macro:1+0,junk,2+1048576:X",
    "macro:40+1048576,8+1048576:Macro · Super+K → Super+C",
    "mouse:2",
    "mouse:9223372036854775807",
    "",
};

// Fragments that steer the mutations toward the decoder's edges: separators, signs, prefixes, digits that are
// not ASCII, a lone surrogate and numbers at and beyond the 64-bit limits.
const QString fragments[] = {
    ":",
    "+",
    "-",
    ",",
    "0",
    "9",
    "key",
    "modifier",
    "shortcut",
    "macro",
    "mouse",
    "fn",
    " ",
    QString(QChar(0)),
    QString(QChar(0x0663)),
    QString(QChar(0xFF11)),
    QString(QChar(0xD83C)),
    "🌐",
    "9223372036854775807",
    "9223372036854775808",
    "18446744073709551615",
    "18446744073709551616",
    "99999999999999999999999999999999",
    "524288",
    "1048576",
};

QString mutate(QString text, std::mt19937_64 &random)
{
    const int steps = 1 + static_cast<int>(random() % 4);
    for (int step = 0; step < steps; ++step) {
        const qsizetype at = text.isEmpty() ? 0 : static_cast<qsizetype>(random() % (text.size() + 1));
        switch (random() % 6) {
        case 0:
            text.insert(at, fragments[random() % std::size(fragments)]);
            break;
        case 1:
            if (!text.isEmpty())
                text.remove(std::min(at, text.size() - 1), 1 + static_cast<qsizetype>(random() % 3));
            break;
        case 2:
            if (!text.isEmpty())
                text[std::min(at, text.size() - 1)] = QChar(static_cast<char16_t>(random() % 0x80));
            break;
        case 3:
            text.truncate(at);
            break;
        case 4:
            text += seeds[random() % std::size(seeds)];
            break;
        default:
            text.insert(at, QChar(static_cast<char16_t>(random() % 0x10000)));
            break;
        }
    }
    return text;
}

QString randomText(std::mt19937_64 &random)
{
    QString text;
    const int parts = static_cast<int>(random() % 8);
    for (int i = 0; i < parts; ++i)
        text += fragments[random() % std::size(fragments)];
    return text;
}

// What a decoded binding must look like whatever the input.
void expectWellFormed(const TriggerBinding &binding, const QString &text)
{
    const std::string why = text.toStdString();
    if (const auto *m = binding.as<TriggerBinding::Modifier>()) {
        EXPECT_NE(m->flag, 0u) << why;
        EXPECT_EQ(m->flag & ~ModifierFlag::triggerMask, 0u) << why;
        EXPECT_FALSE(m->label.isEmpty()) << why;
    } else if (const auto *k = binding.as<TriggerBinding::Keyboard>()) {
        EXPECT_FALSE(k->label.isEmpty()) << why;
    } else if (const auto *s = binding.as<TriggerBinding::Shortcut>()) {
        EXPECT_EQ(s->stroke.modifiers & ~ModifierFlag::triggerMask, 0u) << why;
        EXPECT_FALSE(s->label.isEmpty()) << why;
    } else if (const auto *macro = binding.as<TriggerBinding::Macro>()) {
        EXPECT_GE(macro->strokes.size(), 2u) << why;
        for (const TriggerStroke &stroke : macro->strokes)
            EXPECT_EQ(stroke.modifiers & ~ModifierFlag::triggerMask, 0u) << why;
        EXPECT_FALSE(macro->label.isEmpty()) << why;
    } else if (const auto *mouse = binding.as<TriggerBinding::Mouse>()) {
        EXPECT_GE(mouse->button, 2) << why;
    } else {
        EXPECT_EQ(rawValue(binding.as<TriggerBinding::Predefined>()->key), text) << why;
    }
    EXPECT_FALSE(binding.displayName().isEmpty()) << why;
}

TEST(TriggerBindingFuzzTest, anyStoredTextDecodesSafelyAndStably)
{
    std::mt19937_64 random(0x7A51);
    constexpr int rounds = 200000;
    int decoded = 0;
    for (int round = 0; round < rounds; ++round) {
        const QString text = round % 2 == 0 ? mutate(seeds[random() % std::size(seeds)], random) : randomText(random);
        const std::optional<TriggerBinding> binding = TriggerBinding::fromStorageValue(text);
        if (!binding)
            continue;
        ++decoded;
        expectWellFormed(*binding, text);
        const QString stored = binding->storageValue();
        ASSERT_EQ(TriggerBinding::fromStorageValue(stored), binding)
            << text.toStdString() << " -> " << stored.toStdString();
        if (::testing::Test::HasFailure())
            return;
    }
    EXPECT_GT(decoded, rounds / 50) << "the mutations must reach the decoding paths";
}

} // namespace
} // namespace zq

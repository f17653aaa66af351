// The OEM code page (CP936) between the wire and the program's UTF-8: nothing dropped or
// replaced where a conversion must be exact, and every undecodable byte shown where it may not.
#include "protocol/OemCodePage.h"

#include <gtest/gtest.h>

using namespace lanquill::protocol;

TEST(OemCodePage, ConvertsBothWaysAndRefusesWhatItCannotCarry) {
    const std::string chinese = "你好，世界"; // UTF-8
    const auto oemText = oem::fromUtf8(chinese);
    ASSERT_TRUE(oemText);
    EXPECT_EQ(*oemText, "\xC4\xE3\xBA\xC3\xA3\xAC\xCA\xC0\xBD\xE7");
    EXPECT_EQ(oem::toUtf8(*oemText), chinese);
    EXPECT_EQ(oem::fromUtf8("line\r\nnext"), "line\r\nnext");
    // Nothing is dropped or replaced: characters GBK lacks and broken UTF-8 are errors.
    EXPECT_FALSE(oem::fromUtf8("smile \xF0\x9F\x98\x80"));
    EXPECT_FALSE(oem::fromUtf8("\xC3"));
    EXPECT_FALSE(oem::fromUtf8("\xC0\xAF"));     // overlong '/'
    EXPECT_FALSE(oem::fromUtf8("\xED\xA0\x80")); // a lone surrogate
    EXPECT_FALSE(oem::toUtf8("\xC4"));           // half a double-byte character
}

struct LossyCase {
    const char* name;
    std::string oem;
    std::string utf8;
};

// Each byte that does not decode becomes one U+FFFD; every character that does is kept.
TEST(OemCodePage, LossyDecodingMarksEachBadByte) {
    const LossyCase cases[] = {
        {"ASCII", "hi\r\n", "hi\r\n"},
        {"valid GBK pair", "a\xC4\xE3z", "a你z"},
        {"invalid lead byte", "a\377b", "a\uFFFDb"},
        {"lead byte cut off at the end", "ok\xC4", "ok\uFFFD"},
        {"lead byte before ASCII", "\xC4 \xC4\xE3", "\uFFFD 你"},
        {"two bad bytes", "\xFF\xFF", "\uFFFD\uFFFD"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(oem::toUtf8Lossy(c.oem), c.utf8) << c.name;
}

// Names for a terminal: C0, DEL and C1 controls as '.', everything else as it is.
TEST(OemCodePage, PrintableNames) {
    const LossyCase cases[] = {
        {"plain", "PC-07", "PC-07"},
        {"escape", "WG\x1b[31m", "WG.[31m"},
        {"bell, CR LF", "a\ab\r\n", "a.b.."},
        {"DEL", "x\x7f", "x."},
        {"C1 CSI", "x\302\23331m", "x.31m"},
        {"Chinese and NBSP kept", "办公\xc2\xa0室", "办公\xc2\xa0室"},
        {"cut at C2", "x\xc2", "x\xc2"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(oem::printable(c.oem), c.utf8) << c.name;
}

TEST(OemCodePage, Utf16Units) {
    EXPECT_EQ(oem::utf16Length(""), 0u);
    EXPECT_EQ(oem::utf16Length("abc"), 3u);
    EXPECT_EQ(oem::utf16Length("你好"), 2u);
    EXPECT_EQ(oem::utf16Length("\xF0\x9F\x98\x80"), 2u);
    EXPECT_FALSE(oem::utf16Length("\xFF"));
    EXPECT_FALSE(oem::utf16Length("\xE4\xBD")); // cut short
}

TEST(OemCodePage, CharacterBoundaries) {
    const std::string mixed = "a\304\343b"; // a, 你, b
    EXPECT_EQ(oem::characterBoundary(mixed, 1), 1u);
    EXPECT_EQ(oem::characterBoundary(mixed, 2), 1u); // never half of 你
    EXPECT_EQ(oem::characterBoundary(mixed, 3), 3u);
    EXPECT_EQ(oem::characterBoundary(mixed, 100), mixed.size());
    // A lone lead byte at the end is not waited for beyond the text.
    EXPECT_EQ(oem::characterBoundary("ab\xC4", 10), 3u);
}

// Received texts as Linux senders hand them in: UTF-8 as it is (their OEM code page cannot hold
// it), CP936, or CP936 converted in pieces where a piece that cuts a character went out raw.
TEST(OemCodePage, ReceivedTextsDecodePerBlock) {
    const std::string hello = "你好";                     // UTF-8
    const std::string gbk = *oem::fromUtf8("你好，世界"); // CP936
    const std::string longUtf8 = std::string(200, 'a') + "中文消息" + std::string(100, 'b');
    // A UTF-8 character cut in two at a block's edge, the rest of both blocks CP936.
    const std::string cut = "中"; // E4 B8 AD
    struct Case {
        const char* name;
        std::vector<std::string> blocks;
        std::string expected;
    } cases[] = {
        {"UTF-8 in one block", {hello}, hello},
        {"CP936 in one block", {gbk}, "你好，世界"},
        {"ASCII", {"plain text"}, "plain text"},
        {"UTF-8 cut between blocks", {longUtf8.substr(0, 201), longUtf8.substr(201)}, longUtf8},
        {"CP936 character across blocks", {gbk.substr(0, 3), gbk.substr(3)}, "你好，世界"},
        {"raw UTF-8 pieces between CP936 ones",
         {gbk, "xx" + cut.substr(0, 2), cut.substr(2) + "yy", gbk},
         "你好，世界xx中yy你好，世界"},
        {"bytes that are neither", {"\xFF\xFF"}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(oem::receivedTextToUtf8(c.blocks), c.expected) << c.name;
}

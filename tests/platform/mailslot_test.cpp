// The workgroup message sender's refusal of input it cannot send, checked before anything goes on
// the network.
#include "platform/MailslotSender.h"

#include <gtest/gtest.h>

namespace lanquill::platform {
namespace {

TEST(MailslotSender, RefusesBadInputBeforeTheNetwork) {
    using R = MailslotSender::Result;
    const struct {
        std::string workgroup, text;
        R expected;
    } cases[] = {
        {"WG", std::string("a\0b", 3), R::InvalidText}, // a zero in the text
        {std::string("W\0G", 3), "hi", R::InvalidText}, // in the workgroup
        {"WG", "\xE4\xBD", R::InvalidText},             // broken UTF-8
        {"WG", "\xF0\x9F\x98\x80", R::InvalidText},     // not in CP936
        {"", "hi", R::InvalidText},                     // no workgroup
        {std::string(16, 'W'), "hi", R::TooLong},       // a workgroup of 16 bytes
        {"WG", std::string(10000, 'x'), R::TooLong},    // 10,000 characters
    };
    for (const auto& c : cases) {
        MailslotSender sender;
        EXPECT_EQ(sender.send(c.workgroup, {}, c.text), c.expected) << c.text.substr(0, 20);
        EXPECT_EQ(sender.interfacesReached(), 0);
    }
}

} // namespace
} // namespace lanquill::platform

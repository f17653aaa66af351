// lanquill-net's Chinese texts: each printf format keeps its English's conversions, every text
// the tool says has its Chinese, and the locale picks the language as the desktop program does.
#include "tools/Texts.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

using lanquill::tools::translations;
using lanquill::tools::wantsChinese;

// The conversions of a printf format, in order: "%s", "%u", ...; "%%" is none.
std::vector<std::string> conversions(std::string_view format) {
    static const std::regex conversion(
        "%[-+ #0]*[0-9*]*(\\.[0-9*]+)?(hh|h|ll|l|z|j|t)?[diouxXcsp]");
    std::vector<std::string> found;
    const std::string text(format);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), conversion);
         it != std::sregex_iterator(); ++it)
        found.push_back(it->str());
    return found;
}

TEST(Texts, EveryChineseFormatTakesTheEnglishArguments) {
    for (const auto& t : translations()) {
        EXPECT_EQ(conversions(t.english), conversions(t.chinese)) << t.english;
        EXPECT_EQ(t.english.ends_with('\n'), t.chinese.ends_with('\n')) << t.english;
        EXPECT_FALSE(t.chinese.empty()) << t.english;
    }
}

// The literals of a C++ string concatenation ("a" "b"), joined and unescaped as far as the
// tool's texts use escapes.
std::string literalAt(const std::string& source, std::size_t& pos) {
    std::string text;
    for (;;) {
        while (pos < source.size() && std::isspace(static_cast<unsigned char>(source[pos])))
            ++pos;
        if (pos >= source.size() || source[pos] != '"')
            return text;
        for (++pos; pos < source.size() && source[pos] != '"'; ++pos) {
            if (source[pos] == '\\' && pos + 1 < source.size()) {
                const char next = source[++pos];
                text += next == 'n' ? '\n' : next == 't' ? '\t' : next;
            } else {
                text += source[pos];
            }
        }
        ++pos;
    }
}

TEST(Texts, EveryTextTheToolSaysHasItsChinese) {
    std::set<std::string_view> known;
    for (const auto& t : translations())
        known.insert(t.english);
    int said = 0;
    for (const char* file : {"main.cpp", "SendCommand.cpp", "StatusCommand.cpp", "ViewCommand.cpp",
                             "ViewLauncher.cpp", "ReceiverConfigCommand.cpp", "WindowsSend.cpp"}) {
        std::ifstream in(std::string(LANQUILL_SOURCE_DIR) + "/tools/" + file);
        ASSERT_TRUE(in) << file;
        const std::string source{std::istreambuf_iterator<char>(in), {}};
        for (std::size_t at = source.find("say("); at != std::string::npos;
             at = source.find("say(", at + 1)) {
            std::size_t pos = at + 4;
            const std::string text = literalAt(source, pos);
            if (text.empty())
                continue; // the declaration, or a call on no literal
            ++said;
            EXPECT_TRUE(known.contains(text)) << file << ": no Chinese for \"" << text << '"';
        }
    }
    // The usage, the errors and the result words of every command: far more than a handful.
    EXPECT_GT(said, 30);
}

TEST(Texts, TheMessagesLocalePicksTheLanguage) {
    struct Case {
        const char *lcAll, *lcMessages, *lang, *language;
        bool chinese;
    };
    const Case cases[] = {
        {nullptr, nullptr, "zh_CN.UTF-8", nullptr, true},
        {nullptr, nullptr, "zh_TW.UTF-8", nullptr, true},
        {nullptr, nullptr, "en_US.UTF-8", nullptr, false},
        {nullptr, nullptr, "de_DE.UTF-8", nullptr, false},
        {nullptr, nullptr, nullptr, nullptr, false},
        {nullptr, nullptr, "C.UTF-8", nullptr, false},
        {nullptr, nullptr, "C", "zh_CN", false}, // the C locale is the tool's own English
        {nullptr, nullptr, "POSIX", nullptr, false},
        {"", "", "zh_CN.UTF-8", "", true}, // empty counts as unset
        {nullptr, "en_US.UTF-8", "zh_CN.UTF-8", nullptr, false},
        {nullptr, "zh_CN.UTF-8", "en_US.UTF-8", nullptr, true},
        {"C.UTF-8", "zh_CN.UTF-8", "zh_CN.UTF-8", nullptr, false},
        {"zh_CN.GB18030", nullptr, "en_US.UTF-8", nullptr, true},
        {nullptr, nullptr, "en_US.UTF-8", "zh_CN:en", true},
        {nullptr, nullptr, "zh_CN.UTF-8", "en_GB:zh_CN", false},
        {nullptr, nullptr, "zu_ZA.UTF-8", nullptr, false}, // Zulu is not Chinese
    };
    for (const Case& c : cases)
        EXPECT_EQ(wantsChinese(c.lcAll, c.lcMessages, c.lang, c.language), c.chinese)
            << (c.lcAll ? c.lcAll : "-") << ' ' << (c.lcMessages ? c.lcMessages : "-") << ' '
            << (c.lang ? c.lang : "-") << ' ' << (c.language ? c.language : "-");
}

} // namespace

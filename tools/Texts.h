// lanquill-net's texts. Its own are English, which scripts and logs read in the C locale; a user
// whose messages are wanted in Chinese gets them in Chinese, the language of the desktop
// program. A printf format keeps its conversions, in order, in both languages.
#pragma once

#include <span>
#include <string_view>

namespace lanquill::tools {

struct Translation {
    std::string_view english;
    std::string_view chinese;
};

// Every text with its Chinese.
std::span<const Translation> translations();

// Whether messages are wanted in Chinese: the messages locale (LC_ALL, else LC_MESSAGES, else
// LANG) is Chinese, or, where that locale is not C, the first language of LANGUAGE is. Null
// stands for an unset variable.
bool wantsChinese(const char* lcAll, const char* lcMessages, const char* lang,
                  const char* language);

// ENGLISH in the user's language: its Chinese where the environment asks for Chinese.
__attribute__((format_arg(1))) const char* say(const char* english);

} // namespace lanquill::tools

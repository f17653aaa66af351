// Files as tests see them: the checked-in data under tests/data, and whole files read and
// written as bytes. No Qt, so that the codec tests can use them too.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lanquill::testsupport {

// tests/data/`relative`.
std::string testDataPath(std::string_view relative);

// The whole file, byte for byte; nullopt when it cannot be read.
std::optional<std::string> readFile(const std::string& path);

// Replaces the file with `bytes`; false when it cannot be written whole.
bool writeFile(const std::string& path, std::string_view bytes);

} // namespace lanquill::testsupport

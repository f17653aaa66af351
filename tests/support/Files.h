// Files as tests see them: the checked-in data under tests/data, and whole files read and
// written as bytes. No Qt, so that the codec tests can use them too.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lanquill::testsupport {

// tests/data/`relative`.
std::string testDataPath(std::string_view relative);

// The whole file, byte for byte; nullopt when it cannot be read.
std::optional<std::string> readFile(const std::string& path);

// Replaces the file with `bytes`; false when it cannot be written whole.
bool writeFile(const std::string& path, std::string_view bytes);

// A node-status reply captured from a real nmbd: tests/data/nodestatus/`name`; empty when the
// file is missing.
std::vector<std::uint8_t> nodeStatusCapture(std::string_view name);

// A fresh folder under the system's temporary one, removed with all it holds at the end.
struct TemporaryFolder {
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    std::filesystem::path path;
};

} // namespace lanquill::testsupport

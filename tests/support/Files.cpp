#include "support/Files.h"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <stdlib.h>

namespace lanquill::testsupport {

std::string testDataPath(std::string_view relative) {
    return std::string(LANQUILL_TEST_DATA) + "/" + std::string(relative);
}

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        return std::nullopt;
    return bytes;
}

bool writeFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

std::vector<std::uint8_t> nodeStatusCapture(std::string_view name) {
    const auto bytes = readFile(testDataPath("nodestatus/" + std::string(name)));
    if (!bytes)
        return {};
    return std::vector<std::uint8_t>(bytes->begin(), bytes->end());
}

TemporaryFolder::TemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lanquill-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("no temporary folder");
    path = pattern;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

} // namespace lanquill::testsupport

// The folders of records: names made one after another list in that order, and only the folder's
// own records are listed.
#include "files/RecordFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace lanquill::files {
namespace {

namespace fs = std::filesystem;

TEST(RecordFolder, RecordsListOldestFirstAndOthersNotAtAll) {
    const fs::path folder = fs::temp_directory_path() / ("records-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    std::vector<std::string> made;
    for (int i = 0; i < 120; ++i) {
        made.push_back(timeOrderedName(".json"));
        std::ofstream(folder / made.back()) << i;
    }
    for (const char* other : {".tmp.json", "x.msg", "json", ".json"})
        std::ofstream(folder / other) << "other";
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(recordNames(fd, ".json"), made);
    ::close(fd);
    fs::remove_all(folder);
}

} // namespace
} // namespace lanquill::files

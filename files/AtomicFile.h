// Whole-file writes that survive a crash at any moment: the data goes to a temporary file beside
// the target, is synced, and is renamed over the target, whose folder is then synced. Readers
// see the old file or the new one, never a part.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>

namespace lanquill::files {

// Writes all of `data` to a descriptor (a file or a socket), across short writes and signals.
// False when the descriptor refuses more (errno tells why; EIO when nothing could be written);
// on a socket the caller ignores SIGPIPE.
bool writeAll(int fd, std::string_view data);

// Makes a rename or removal in `folder` durable; false when the folder could not be synced.
bool syncFolder(const std::string& folder);

// What replaceFile did last, so the caller can name it in its own words.
enum class ReplaceStep { CreateTemporary, Write, SetMode, Sync, Close, Rename };

struct ReplaceOptions {
    mode_t mode = 0600;
    // Owner and group to give the new file (root writing a user's file keeps it the user's);
    // a refusal is not an error.
    std::optional<std::pair<uid_t, gid_t>> owner;
};

struct ReplaceFailure {
    ReplaceStep step;
    int error; // errno
};

struct Replaced {
    struct stat written {}; // the new file as it was synced
    bool folderSynced = false;
};

// Temporary files are ".<target name>.<pid>.XXXXXX" in the target's folder. On failure the
// target is untouched and the temporary file removed.
struct ReplaceResult {
    std::optional<Replaced> replaced;
    std::optional<ReplaceFailure> failure;
    explicit operator bool() const { return replaced.has_value(); }
};
ReplaceResult replaceFile(const std::string& target, std::string_view data,
                          const ReplaceOptions& options);

// Removes the temporary files that replaceFile left for `targetName` in `folder` when killed
// before its rename: those whose process is gone, or is this one. A live process may be in the
// middle of its own replace, so its file is left alone. An empty `targetName` matches every
// target in the folder.
void removeStaleTemporaries(const std::string& folder, const std::string& targetName);

} // namespace lanquill::files

#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace zrq406 {

// Who may read a file the programs write.
enum class FileAccess {
    OwnerOnly, // 0600: the content holds keys or passwords (devices.dat, backups, the simulated network)
    Everyone   // 0644: upgrade files
};

// The outcome of a file write; `error` names the file and says what went wrong.
struct [[nodiscard]] FileWriteResult {
    bool ok = false;
    std::string error;
    explicit operator bool() const { return ok; }
};

// Replaces `path` with `content` in one step: the bytes go to a temporary file of a unique name in the same
// folder, which is flushed to the disk, given its mode and renamed over `path`; the folder is then flushed too.
// A write that fails removes the temporary file and leaves the previous file as it was. The folder must exist.
// A symbolic link at `path` stays: the file it leads to is replaced, in that file's folder. Anything else that is
// not a regular file (a device node, FIFO or folder) is refused and left as it is.
FileWriteResult writeFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> content,
                                    FileAccess access);
FileWriteResult writeFileAtomically(const std::filesystem::path& path, std::string_view content, FileAccess access);

} // namespace zrq406

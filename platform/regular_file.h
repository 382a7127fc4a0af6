#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace zrq406 {

enum class FileReadStatus {
    Ok,
    Missing,    // nothing of that name
    NotRegular, // a folder, FIFO, socket or device node
    TooLarge,   // more bytes than the reader takes
    Unreadable, // no permission, or an error while reading
};

// The outcome of a file read; `error` names the file and says what is wrong.
struct [[nodiscard]] FileReadResult {
    FileReadStatus status = FileReadStatus::Unreadable;
    std::string content;
    std::string error;
    explicit operator bool() const { return status == FileReadStatus::Ok; }
};

// Reads the whole of a regular file of at most `limit` bytes. A FIFO or device node in the file's place is
// refused at once, never waited on: the file is opened without blocking and checked before anything is read.
FileReadResult readRegularFile(const std::filesystem::path& path, std::size_t limit);
// What a file of this mode (st_mode) is, when it is not a regular file: "a FIFO", "a folder", "a character device"…
const char* specialFileKind(unsigned mode);

// Reads at most the first `limit` bytes of a regular file; a longer file is not refused.
FileReadResult readRegularFileStart(const std::filesystem::path& path, std::size_t limit);

} // namespace zrq406

#include "platform/regular_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zrq406 {

namespace {

FileReadResult failure(FileReadStatus status, std::string error) {
    FileReadResult result;
    result.status = status;
    result.error = std::move(error);
    return result;
}

FileReadResult readFile(const std::filesystem::path& path, std::size_t limit, bool refuseLonger) {
    const std::string name = path.string();
    // Without O_NONBLOCK, opening a FIFO waits for a writer that may never come.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        return failure(error == ENOENT ? FileReadStatus::Missing : FileReadStatus::Unreadable,
                       name + ": cannot be opened: " + std::strerror(error));
    }
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return failure(FileReadStatus::Unreadable, name + ": cannot be examined: " + std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        return failure(FileReadStatus::NotRegular,
                       name + ": is " + specialFileKind(st.st_mode) + ", not a regular file");
    if (refuseLonger && static_cast<std::uintmax_t>(st.st_size) > limit)
        return failure(FileReadStatus::TooLarge, name + ": larger than " + std::to_string(limit) + " bytes");

    FileReadResult result;
    // One byte past the limit shows a file that grew after the check.
    const std::size_t wanted = refuseLonger ? limit + 1 : limit;
    result.content.resize(std::min<std::size_t>(wanted, static_cast<std::size_t>(st.st_size) + 1));
    std::size_t done = 0;
    while (done < wanted) {
        if (done == result.content.size())
            result.content.resize(std::min(wanted, std::max<std::size_t>(done * 2, 4096)));
        const ssize_t n = ::read(fd, result.content.data() + done, result.content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return failure(FileReadStatus::Unreadable, name + ": cannot be read: " + std::strerror(errno));
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    if (done > limit)
        return failure(FileReadStatus::TooLarge, name + ": larger than " + std::to_string(limit) + " bytes");
    result.content.resize(done);
    result.status = FileReadStatus::Ok;
    return result;
}

} // namespace

const char* specialFileKind(unsigned mode) {
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    return "a special file";
}

FileReadResult readRegularFile(const std::filesystem::path& path, std::size_t limit) {
    return readFile(path, limit, true);
}

FileReadResult readRegularFileStart(const std::filesystem::path& path, std::size_t limit) {
    return readFile(path, limit, false);
}

} // namespace zrq406

#include "platform/atomic_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zrq406 {

namespace {

bool writeFully(int fd, const std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

FileWriteResult failure(const std::filesystem::path& path, const char* what, int error) {
    return {false, path.string() + ": " + what + ": " + std::strerror(error)};
}

} // namespace

FileWriteResult writeFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> content,
                                    FileAccess access) {
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::string temporary = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return failure(path, "cannot create a temporary file beside it", errno);

    const mode_t mode = access == FileAccess::OwnerOnly ? (S_IRUSR | S_IWUSR) : (S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH);
    const char* step = nullptr;
    int error = 0;
    const auto failed = [&](const char* what) {
        step = what;
        error = errno;
    };
    if (::fchmod(fd, mode) != 0)
        failed("cannot set its mode");
    else if (!writeFully(fd, content.data(), content.size()))
        failed("cannot be written");
    else if (::fsync(fd) != 0)
        failed("cannot be flushed to the disk");
    if (::close(fd) != 0 && step == nullptr)
        failed("cannot be written");
    if (step == nullptr && ::rename(temporary.c_str(), path.c_str()) != 0)
        failed("cannot be replaced");
    if (step != nullptr) {
        ::unlink(temporary.c_str());
        return failure(path, step, error);
    }

    // The rename is only lasting once the folder's entry is on the disk. The new content is in place whatever
    // happens here, so a folder that cannot be flushed (some file systems refuse it) does not fail the write.
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        (void)::fsync(folderFd);
        ::close(folderFd);
    }
    return {true, {}};
}

FileWriteResult writeFileAtomically(const std::filesystem::path& path, std::string_view content, FileAccess access) {
    return writeFileAtomically(path, std::span(reinterpret_cast<const std::uint8_t*>(content.data()), content.size()),
                               access);
}

} // namespace zrq406

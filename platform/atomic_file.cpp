#include "platform/atomic_file.h"

#include "platform/regular_file.h"

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

// The file that a write to `path` replaces: a symbolic link is followed to its target, so that the link stays a
// link and the file it names gets the content. Anything there that is not a regular file is refused, since the
// rename would put a plain file in place of a device node or FIFO.
bool resolveTarget(const std::filesystem::path& path, std::filesystem::path& target, FileWriteResult& refused) {
    target = path;
    // As many links as the kernel itself follows before it gives up.
    for (int hops = 0; hops <= 40; ++hops) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0) {
            if (errno == ENOENT)
                return true;
            refused = failure(path, "cannot be examined", errno);
            return false;
        }
        if (S_ISREG(st.st_mode))
            return true;
        if (!S_ISLNK(st.st_mode)) {
            refused = {false, path.string() + ": is " + specialFileKind(st.st_mode) +
                                  ", not a regular file; it is left as it is"};
            return false;
        }
        std::error_code ec;
        const std::filesystem::path next = std::filesystem::read_symlink(target, ec);
        if (ec) {
            refused = failure(path, "cannot be examined", ec.value());
            return false;
        }
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    refused = failure(path, "cannot be examined", ELOOP);
    return false;
}

} // namespace

FileWriteResult writeFileAtomically(const std::filesystem::path& requested, std::span<const std::uint8_t> content,
                                    FileAccess access) {
    std::filesystem::path path;
    if (FileWriteResult refused; !resolveTarget(requested, path, refused))
        return refused;
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

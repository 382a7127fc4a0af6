#include "link/capture_file.h"

#include "platform/regular_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zrq406::link {

namespace {

// The classic pcap format with nanosecond timestamps, written in the host's byte order (the magic tells
// readers which one).
constexpr std::uint32_t kMagicNanoseconds = 0xa1b23c4d;
constexpr std::uint16_t kVersionMajor = 2;
constexpr std::uint16_t kVersionMinor = 4;
constexpr std::uint32_t kSnapLength = 65535;
constexpr std::uint32_t kLinkTypeEthernet = 1;

struct FileHeader {
    std::uint32_t magic;
    std::uint16_t versionMajor;
    std::uint16_t versionMinor;
    std::int32_t thisZone;
    std::uint32_t sigFigs;
    std::uint32_t snapLength;
    std::uint32_t linkType;
};
static_assert(sizeof(FileHeader) == 24);

struct RecordHeader {
    std::uint32_t seconds;
    std::uint32_t nanoseconds;
    std::uint32_t includedLength;
    std::uint32_t originalLength;
};
static_assert(sizeof(RecordHeader) == 16);

} // namespace

CaptureFile::~CaptureFile() {
    std::lock_guard lock(m_mutex);
    if (m_file != nullptr)
        std::fclose(m_file);
}

bool CaptureFile::open(const std::string& path, std::string& error) {
    std::lock_guard lock(m_mutex);
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    // Checked before it is opened and again once open, without blocking: a FIFO would hold the program until some
    // reader came (or fail with a puzzling error), and a device node is no place for a capture.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error = path + ": is " + specialFileKind(st.st_mode) + ", not a regular file";
        return false;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::ftruncate(fd, 0) != 0) {
        error = path + ": " + (S_ISREG(st.st_mode) ? std::strerror(errno) : "not a regular file");
        ::close(fd);
        return false;
    }
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        error = path + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    const FileHeader header{kMagicNanoseconds, kVersionMajor, kVersionMinor, 0, 0, kSnapLength, kLinkTypeEthernet};
    if (std::fwrite(&header, sizeof header, 1, file) != 1 || std::fflush(file) != 0) {
        error = path + ": " + std::strerror(errno);
        std::fclose(file);
        return false;
    }
    m_file = file;
    return true;
}

void CaptureFile::write(std::span<const std::uint8_t> frame, std::uint64_t nanoseconds) {
    if (nanoseconds == 0)
        nanoseconds = static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
                .count());
    const auto included = static_cast<std::uint32_t>(std::min<std::size_t>(frame.size(), kSnapLength));
    const RecordHeader header{static_cast<std::uint32_t>(nanoseconds / 1'000'000'000),
                              static_cast<std::uint32_t>(nanoseconds % 1'000'000'000), included,
                              static_cast<std::uint32_t>(frame.size())};
    std::lock_guard lock(m_mutex);
    if (m_file == nullptr)
        return;
    std::fwrite(&header, sizeof header, 1, m_file);
    if (included > 0)
        std::fwrite(frame.data(), 1, included, m_file);
    std::fflush(m_file);
}

} // namespace zrq406::link

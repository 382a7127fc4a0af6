#include "platform/instance_lock.h"

#include "platform/paths.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace zrq406 {

InstanceLock::~InstanceLock() {
    release();
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept : m_fd(other.m_fd) {
    other.m_fd = -1;
}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
    if (this != &other) {
        release();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

std::filesystem::path InstanceLock::fileOf(const std::string& name, const std::filesystem::path& folder) {
    std::string file = "zrq406-lock-";
    for (const char c : name)
        file += (c == '/' || static_cast<unsigned char>(c) < 0x20) ? '_' : c;
    return folder / (file + ".lock");
}

bool InstanceLock::exists(const std::string& name, const std::filesystem::path& folder) {
    const int fd = ::open(fileOf(name, folder).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // A lock that can be taken is held by nobody; the probe gives it back at once.
    const bool free = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
    ::close(fd);
    return !free;
}

bool InstanceLock::exists(const std::string& name) {
    return exists(name, paths::runtimeDir());
}

bool InstanceLock::acquire(const std::string& name, const std::filesystem::path& folder) {
    release();
    const int fd = ::open(fileOf(name, folder).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    // exists() probes with a shared lock for a moment; a holder that stays is another instance.
    bool locked = false;
    for (int attempt = 0; attempt < 5 && !locked; ++attempt) {
        locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (!locked)
            ::usleep(10000);
    }
    if (!locked) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

bool InstanceLock::acquire(const std::string& name) {
    return acquire(name, paths::runtimeDir());
}

void InstanceLock::release() {
    if (m_fd < 0)
        return;
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}

} // namespace zrq406

#include "platform/instance_lock.h"

#include "platform/paths.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace zrq406 {

InstanceLock::~InstanceLock() {
    release();
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept : m_fd(other.m_fd), m_mark(other.m_mark) {
    other.m_fd = -1;
    other.m_mark = -1;
}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
    if (this != &other) {
        release();
        m_fd = other.m_fd;
        m_mark = other.m_mark;
        other.m_fd = -1;
        other.m_mark = -1;
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
    if (!acquire(name, paths::runtimeDir()))
        return false;
    mark(name, paths::sharedRunDir());
    return true;
}

void InstanceLock::mark(const std::string& name, const std::filesystem::path& folder) {
    const std::filesystem::path file = fileOf(name, folder);
    // Readable by all, so that another user's program can take its shared lock on the file another user made; never
    // through a link, in a folder whose sticky bit keeps others from replacing the file.
    int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        fd = ::open(file.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    // A probe holds its exclusive lock for a moment only.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
            m_mark = fd;
            return;
        }
        ::usleep(10000);
    }
    ::close(fd);
}

bool InstanceLock::markedAnywhere(const std::string& name, const std::filesystem::path& folder) {
    const int fd = ::open(fileOf(name, folder).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return !free;
}

bool InstanceLock::markedAnywhere(const std::string& name) {
    return markedAnywhere(name, paths::sharedRunDir());
}

void InstanceLock::release() {
    if (m_mark >= 0) {
        ::flock(m_mark, LOCK_UN);
        ::close(m_mark);
        m_mark = -1;
    }
    if (m_fd < 0)
        return;
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}

} // namespace zrq406

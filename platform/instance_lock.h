#pragma once

#include <filesystem>
#include <string>

namespace zrq406 {

// A named lock that tells whether a program runs: a lock file in the runtime folder, held with flock. The name
// "exists" while a live process holds it; a program that ends in any way, a crash included, releases it.
class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(InstanceLock&& other) noexcept;
    InstanceLock& operator=(InstanceLock&& other) noexcept;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Whether some process (this one included) holds the lock of this name.
    static bool exists(const std::string& name, const std::filesystem::path& folder);
    static bool exists(const std::string& name);
    // Takes the lock of this name; false when another holder has it (or the lock file cannot be made).
    bool acquire(const std::string& name, const std::filesystem::path& folder);
    bool acquire(const std::string& name);
    // Gives the lock up; nothing when none is held.
    void release();
    bool held() const { return m_fd >= 0; }

    // The lock file of a name: the name with '/' and control characters replaced, in `folder`.
    static std::filesystem::path fileOf(const std::string& name, const std::filesystem::path& folder);

private:
    int m_fd = -1;
};

} // namespace zrq406

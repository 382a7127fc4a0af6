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
    // The same in the user's runtime folder; besides, it marks in the shared folder (paths::sharedRunDir), where
    // every user may, that a program of this name runs, when that folder exists. The mark never refuses.
    bool acquire(const std::string& name);
    // Whether a program of any user holds the mark of this name in `folder` (the shared folder by default).
    static bool markedAnywhere(const std::string& name, const std::filesystem::path& folder);
    static bool markedAnywhere(const std::string& name);
    // Gives the lock up; nothing when none is held.
    void release();
    bool held() const { return m_fd >= 0; }

    // The lock file of a name: the name with '/' and control characters replaced, in `folder`.
    static std::filesystem::path fileOf(const std::string& name, const std::filesystem::path& folder);

private:
    // Holds a shared lock on the mark's file: every running program of the name holds one, and a probe for an
    // exclusive lock fails while any does.
    void mark(const std::string& name, const std::filesystem::path& folder);

    int m_fd = -1;
    int m_mark = -1;
};

} // namespace zrq406

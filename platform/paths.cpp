#include "platform/paths.h"

#include "platform/atomic_file.h"
#include "platform/regular_file.h"

#include <cstdlib>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace zrq406::paths {

namespace fs = std::filesystem;

fs::path executableDir() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return fs::current_path(ec);
    return self.parent_path();
}

fs::path installedDataDir() {
    return fs::path(ZRQ406_DATA_DIR);
}

std::vector<fs::path> dataFolders() {
    std::vector<fs::path> folders;
    // Tests and uninstalled builds may name the folder that holds the data files.
    if (const char* dir = std::getenv("ZRQ406_DATA_DIR"); dir != nullptr && *dir != '\0')
        folders.emplace_back(dir);
    folders.push_back(executableDir());
    folders.push_back(installedDataDir());
    return folders;
}

fs::path dataFile(const std::string& name) {
    std::error_code ec;
    for (const fs::path& folder : dataFolders())
        if (fs::exists(folder / name, ec))
            return folder / name;
    return executableDir() / name;
}

fs::path userDataDir() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/')
        return fs::path(xdg) / "zrq406";
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return fs::path(home) / ".local" / "share" / "zrq406";
    return fs::path("/tmp") / ("zrq406-data-" + std::to_string(getuid()));
}

fs::path historyFile() {
    const fs::path file = userDataDir() / "devices.dat";
    takeOverFile(executableDir() / "devices.dat", file);
    return file;
}

bool takeOverFile(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(to, ec)))
        return false;
    // Far above any history file; a bound so that a stray large file is not copied.
    constexpr std::size_t limit = 16u << 20;
    const FileReadResult read = readRegularFile(from, limit);
    if (!read)
        return false;
    fs::create_directories(to.parent_path(), ec);
    // The file may hold device passwords, so the copy is for its owner only whatever the original's mode.
    return static_cast<bool>(writeFileAtomically(to, read.content, FileAccess::OwnerOnly));
}

fs::path runtimeDir() {
    if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg != nullptr && *xdg == '/')
        return fs::path(xdg);
    const fs::path dir = fs::path("/tmp") / ("zrq406-" + std::to_string(getuid()));
    ::mkdir(dir.c_str(), 0700);
    // Another user may have made the folder first: use it only when it is ours and closed to others.
    struct stat info {};
    if (::lstat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid() &&
        (info.st_mode & 0077) == 0)
        return dir;
    const fs::path fallback = userDataDir() / "run";
    std::error_code ec;
    fs::create_directories(fallback, ec);
    ::chmod(fallback.c_str(), 0700);
    return fallback;
}

fs::path sharedRunDir() {
    if (const char* dir = std::getenv("ZRQ406_SHARED_RUN_DIR"); dir != nullptr && *dir == '/')
        return fs::path(dir);
    return fs::path("/run/zrq406");
}

} // namespace zrq406::paths

#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zrq406 {

// Where the programs find and keep their files.
namespace paths {

// The folder of the running executable.
std::filesystem::path executableDir();
// A data file shipped with the programs (language files, upgrade files): in the folder named by
// $ZRQ406_DATA_DIR when it is there, else beside the executable, else in the installed data folder. Returns
// the path beside the executable when none has it.
std::filesystem::path dataFile(const std::string& name);
// The installed data folder (<prefix>/share/zrq406).
std::filesystem::path installedDataDir();
// The folders searched for data files, in order: $ZRQ406_DATA_DIR when set, the executable's folder, the
// installed data folder.
std::vector<std::filesystem::path> dataFolders();
// The user's data folder ($XDG_DATA_HOME/zrq406, else ~/.local/share/zrq406); not created.
std::filesystem::path userDataDir();
// "devices.dat" in the user's data folder, also for root: a program never writes beside itself. A devices.dat
// that a portable build kept beside the executable is taken over the first time, so no device name is lost.
std::filesystem::path historyFile();
// Copies `from` to `to` (mode 0600, its folder made) when nothing is at `to` yet and `from` is a regular file.
// True when it copied.
bool takeOverFile(const std::filesystem::path& from, const std::filesystem::path& to);
// The folder for lock files: $XDG_RUNTIME_DIR, else /tmp/zrq406-<uid> (created with mode 0700).
std::filesystem::path runtimeDir();
// The folder, shared by every user, in which the programs also mark that they run, so that a system service (the
// monitor, under a user of its own) can see a desktop user's utility or upgrade tool: ZRQ406_SHARED_RUN_DIR when set
// to an absolute path, else /run/zrq406 (made by the package, writable by the group zrq406 alone).
std::filesystem::path sharedRunDir();

} // namespace paths
} // namespace zrq406

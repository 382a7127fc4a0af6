#pragma once

#include <atomic>
#include <optional>
#include <ostream>
#include <string>

namespace zrq406::sim {

// Exit codes of runSimulator.
constexpr int kSimulatorStopped = 0;
constexpr int kSimulatorInterfaceFailed = 1; // the interface cannot be opened for raw frames
constexpr int kSimulatorBadNetwork = 2;      // the network file cannot be read or is not valid

// Answers raw frames on a real interface as the network's attached device (that of its first host adapter
// with a device) and, through it, the devices of its power line, until `stop` turns true. The network comes
// from `networkFile` (kept up to date there) or is the built-in one with its state file. Writes one line per
// request handled to `log` unless `quiet`; errors are written in any case.
int runSimulator(const std::string& interfaceName, const std::optional<std::string>& networkFile, bool quiet,
                 const std::atomic<bool>& stop, std::ostream& log);

} // namespace zrq406::sim

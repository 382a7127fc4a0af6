#pragma once

#include "cli/session.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace zrq406::cli {

// Exit codes of every command.
enum ExitCode { kDone = 0, kRefused = 1, kBadInput = 2 };

struct GlobalOptions {
    LinkOptions link;
    bool json = false;
    std::string language;    // "en", "de" or "" for the locale's choice
    std::string historyPath; // "" for the usual devices.dat
};

struct Output {
    std::ostream& out;
    std::ostream& err;
};

int runAdapters(const GlobalOptions& options, Output& io);
int runScan(const GlobalOptions& options, bool save, Output& io);
int runReset(const GlobalOptions& options, const std::string& mac, Output& io);
int runLed(const GlobalOptions& options, const std::string& mac, const std::string& state, Output& io);

struct SetKeyRequest {
    std::optional<std::string> password; // nothing: the public default key
    bool local = false;
    std::vector<std::string> devices;
    std::vector<std::string> devicePasswords;
};
int runSetKey(const GlobalOptions& options, const SetKeyRequest& request, Output& io);
int runCheckPassword(const GlobalOptions& options, const std::string& mac, const std::string& password, Output& io);
int runUpgrade(const GlobalOptions& options, const std::string& file, const std::string& mac, Output& io);
int runCheckFile(const GlobalOptions& options, const std::string& file, Output& io);

struct PackRequest {
    std::string firmware;
    std::string config;
    std::string version;
    std::string manufacturer;
    std::string model;
    std::string output;
};
int runPackUpgrade(const GlobalOptions& options, const PackRequest& request, Output& io);
int runDeriveKey(const GlobalOptions& options, bool nmk, const std::string& password, Output& io);
int runHistory(const GlobalOptions& options, Output& io);
int runSimulate(const GlobalOptions& options, const std::string& interfaceName, const std::string& network, bool quiet,
                Output& io);

// Parses the command line and runs the command; returns the exit code.
int runCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err);

} // namespace zrq406::cli

#pragma once

#include "app/session.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace zrq406::cli {

// Exit codes of every command.
enum ExitCode { kDone = 0, kRefused = 1, kBadInput = 2 };

using LinkOptions = app::LinkOptions;

struct GlobalOptions {
    LinkOptions link;
    bool json = false;
    std::string language;    // "en", "de" or "" for the locale's choice
    std::string historyPath; // "" for the usual devices.dat
};

struct Output {
    std::ostream& out;
    std::ostream& err;
    std::istream* in = nullptr; // where passwords are read from ("-"), and the terminal's prompt
};

int runAdapters(const GlobalOptions& options, Output& io);
int runScan(const GlobalOptions& options, bool save, Output& io);
int runReset(const GlobalOptions& options, const std::string& mac, Output& io);
int runLed(const GlobalOptions& options, const std::string& mac, const std::string& state, Output& io);
// The push button of a device (the local one when `mac` is empty): "join" waits up to two minutes for a new
// device to appear, "leave" (asked first on a terminal unless `yes`) gives it a random key, "status" tells its
// membership state.
int runPair(const GlobalOptions& options, const std::string& mac, const std::string& action, bool yes, Output& io);
// Restarts a device with its key, name and settings, and waits until it answers again.
int runRestart(const GlobalOptions& options, const std::string& mac, Output& io);
// The hosts behind a device (the local one when `mac` is empty), each with its maker where the registry names it.
int runHosts(const GlobalOptions& options, const std::string& mac, Output& io);

// A password given on the command line: the text itself, or where to read it so that it stays out of the process
// list.
struct PasswordSource {
    std::optional<std::string> text; // given as an argument
    std::string file;                // read from this file ("-": standard input), first line
    bool prompt = false;             // asked for on the terminal without echo
    bool given() const { return text || !file.empty() || prompt; }
};

struct SetKeyRequest {
    std::optional<PasswordSource> password; // nothing: the public default key
    bool local = false;
    std::vector<std::string> devices;
    std::vector<std::string> devicePasswords;
    std::string devicePasswordFile; // lines "MAC PASSWORD" ("-": standard input)
};
int runSetKey(const GlobalOptions& options, const SetKeyRequest& request, Output& io);
int runCheckPassword(const GlobalOptions& options, const std::string& mac, const PasswordSource& password, Output& io);
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
int runDeriveKey(const GlobalOptions& options, bool nmk, const PasswordSource& password, Output& io);
int runHistory(const GlobalOptions& options, Output& io);

struct LinkHistoryRequest {
    std::string since = "7d"; // how far back: a number and m, h, d or w
    std::string device;       // only links from or to this MAC ("" for all)
    bool csv = false;
};
// How far back --since reaches, in seconds; nothing for a malformed text.
std::optional<std::int64_t> parseSince(const std::string& text);
// Prints each link's rates over time from the link history, with their figures and drops.
int runLinkHistory(const GlobalOptions& options, const LinkHistoryRequest& request, Output& io);
// Prints when each device was first and last seen, from the link history.
int runDeviceSightings(const GlobalOptions& options, bool csv, Output& io);
// Prints the alerts raised by the link history's scans of the last `since` (a number and m, h, d or w), oldest
// first: slow links, devices that stopped answering, new devices.
int runHistoryAlerts(const GlobalOptions& options, const std::string& since, Output& io);
// Prunes the link history to `keepDays` (0: the configured limit) and compacts its file.
int runPruneHistory(const GlobalOptions& options, int keepDays, Output& io);
// Prints a device's priority (QoS) settings; with `writeFile` ("-": standard input) first changes them to what that
// JSON document names, in the form that --json prints.
int runQos(const GlobalOptions& options, const std::string& mac, const std::string& writeFile, Output& io);
// Writes the diagnostics report (this computer, the devices a scan finds, the history) to `outputFile`, or to
// standard output when it is empty. The history file is not changed.
int runReport(const GlobalOptions& options, const std::string& outputFile, Output& io);
// Prints every link between the stations of the network in both directions, weakest first.
int runLinks(const GlobalOptions& options, Output& io);
// Prints every link of the network (or of the device `mac`) in both directions, weakest first: PB error rate, MPDU
// failure rate, collisions and FEC bit error rate beside the current rate.
int runHealth(const GlobalOptions& options, const std::string& mac, Output& io);

struct CarriersRequest {
    std::string device;       // the receiving device
    std::string peer;         // the device whose frames it receives
    std::optional<int> slot;  // one slot; nothing for every slot and their mean
    bool csv = false;
};
// Prints the carrier map with which `device` receives from `peer`: each carrier's frequency, bits per slot and SNR
// estimate, and a summary in words.
int runCarriers(const GlobalOptions& options, const CarriersRequest& request, Output& io);
// Writes the devices and links as metrics in the text exposition format to `outputFile` (replaced in one step), or
// to standard output when it is empty or "-".
int runMetrics(const GlobalOptions& options, const std::string& outputFile, Output& io);
// What the command line says to `zrq406 monitor`; what it leaves out comes from monitor.conf or the defaults.
struct MonitorRequest {
    std::optional<int> interval;
    std::optional<int> keepalive;
    std::optional<int> forgetAfter;
    std::optional<std::string> mqtt;
    std::optional<std::string> mqttCa;
    std::optional<std::string> passwordFile;
    std::optional<std::string> mqttPrefix;
    std::optional<std::string> discoveryPrefix;
};
// Scans every interval, records each scan in the link history and publishes the devices to an MQTT broker with
// Home Assistant's discovery; takes LED commands. Runs until SIGTERM or SIGINT.
int runMonitor(const GlobalOptions& options, const MonitorRequest& request, Output& io);
int runSimulate(const GlobalOptions& options, const std::string& interfaceName, const std::string& network, bool quiet,
                Output& io);

// Parses the command line and runs the command; returns the exit code. Nothing escapes as an exception.
int runCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err, std::istream* in = nullptr);

} // namespace zrq406::cli

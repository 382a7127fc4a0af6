#pragma once

#include "app/link_history.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

namespace zrq406 {
class CLoadUISetting;
}

namespace zrq406::app {

// The language file's keys of the link history's messages.
inline constexpr const char* kLinkHistoryMovedAside = "msg100";
inline constexpr const char* kLinkHistoryNotWritten = "msg101";
inline constexpr const char* kLinkHistoryDamage = "msg102";
inline constexpr const char* kLinkHistoryBusy = "msg103";
inline constexpr const char* kLinkHistoryRefused = "msg104";

// The language file's words for what was wrong with a history that was moved aside.
std::string historyDamageText(CLoadUISetting& texts, HistoryDamage damage);
// The message that a damaged history file was moved aside.
std::string historyMovedAsideText(CLoadUISetting& texts, const std::filesystem::path& path,
                                  const HistoryOpenResult& opened);
// The message that a newer version's history or another program's database is left as it is and not written.
std::string historyRefusedText(CLoadUISetting& texts, const std::filesystem::path& path, HistoryDamage damage);

// Hands every scan of a program to the link history, opened at the first scan. A scan never fails for it and waits
// for it at most kDeadline in all (opening and writing): what went wrong is told once, and the next scans try again.
class ScanRecorder {
public:
    // Real time, not paced: it bounds how long another program may hold up a scan, and a shrunk bound would turn a
    // loaded machine's ordinary writes into skipped ones.
    static constexpr std::chrono::milliseconds kDeadline{2000};

    explicit ScanRecorder(std::filesystem::path path = LinkHistory::defaultPath(),
                          int retentionDays = LinkHistory::retentionDaysFromEnvironment());
    ~ScanRecorder();

    // Another history file; an empty path records nothing.
    void setPath(std::filesystem::path path);
    const std::filesystem::path& path() const { return m_path; }

    // Appends the scan. Returns what the user is to be told, or "": a damaged file that was moved aside, or a
    // failure to write: a history held by another program past the deadline, one refused as it stands, any other
    // failure (told again only after a scan was written).
    std::string record(const HistoryScan& scan, CLoadUISetting& texts);

private:
    std::filesystem::path m_path;
    int m_retentionDays;
    std::unique_ptr<LinkHistory> m_history;
    bool m_failureTold = false;
};

} // namespace zrq406::app

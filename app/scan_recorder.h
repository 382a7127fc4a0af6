#pragma once

#include "app/link_history.h"

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

// The language file's words for what was wrong with a history that was moved aside.
std::string historyDamageText(CLoadUISetting& texts, HistoryDamage damage);
// The message that a damaged history file was moved aside.
std::string historyMovedAsideText(CLoadUISetting& texts, const std::filesystem::path& path,
                                  const HistoryOpenResult& opened);

// Hands every scan of a program to the link history, opened at the first scan. A scan never waits on it or fails
// for it: what went wrong is told once, and the next scans try again.
class ScanRecorder {
public:
    explicit ScanRecorder(std::filesystem::path path = LinkHistory::defaultPath(),
                          int retentionDays = LinkHistory::retentionDaysFromEnvironment());
    ~ScanRecorder();

    // Another history file; an empty path records nothing.
    void setPath(std::filesystem::path path);
    const std::filesystem::path& path() const { return m_path; }

    // Appends the scan. Returns what the user is to be told, or "": a damaged file that was moved aside, or a
    // failure to write (told again only after a scan was written).
    std::string record(const HistoryScan& scan, CLoadUISetting& texts);

private:
    std::filesystem::path m_path;
    int m_retentionDays;
    std::unique_ptr<LinkHistory> m_history;
    bool m_failureTold = false;
};

} // namespace zrq406::app

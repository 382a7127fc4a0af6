#pragma once

#include "app/link_chart.h"
#include "app/link_history.h"
#include "app/link_statistics.h"

#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zrq406::app {

// One direction of a link, as the link history window names it.
struct LinkChoice {
    MacAddress from;
    MacAddress to;
};

// What the link history window shows for one period: each device's name, each link's figures, the chosen link
// and its chart.
struct LinkHistoryView {
    HistoryResult result; // why the history could not be read; an absent history is read as an empty one
    std::map<MacAddress, std::string> names;
    std::vector<LinkSummary> links;
    int chosen = -1; // into `links`; -1 when there is none
    LinkChart chart; // of the chosen link
};

// Reads the link history for the link history window, on a worker thread: it opens the file at the first read and
// never creates one. One read at a time.
class LinkHistoryReader {
public:
    explicit LinkHistoryReader(std::filesystem::path path);
    ~LinkHistoryReader();
    LinkHistoryReader(const LinkHistoryReader&) = delete;
    LinkHistoryReader& operator=(const LinkHistoryReader&) = delete;

    // The view of `span` before `now`. The chosen link is `keep` when it is among the period's links, else (with
    // no `keep`) the first link from or to `device`, else the first link.
    LinkHistoryView read(ChartSpan span, std::time_t now, const std::optional<LinkChoice>& keep,
                         const std::optional<MacAddress>& device);

private:
    std::filesystem::path m_path;
    std::unique_ptr<LinkHistory> m_history;
    std::map<MacAddress, std::string> m_names;
    // The last period's figures, kept while only the chosen link changes.
    std::optional<std::pair<ChartSpan, std::time_t>> m_period;
    std::vector<LinkSummary> m_links;
};

} // namespace zrq406::app

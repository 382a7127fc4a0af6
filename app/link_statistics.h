#pragma once

#include "app/link_history.h"
#include "registry/list_rows.h"

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace zrq406::app {

// The lowest, middle and highest rate of a run of samples, in Mbit/s.
struct RateFigures {
    std::uint32_t minimum = 0;
    std::uint32_t median = 0;
    std::uint32_t maximum = 0;
};

// A stretch of scans in which a link ran below half its usual (median) rate.
struct LinkDrop {
    std::time_t start = 0;    // the first low scan
    std::time_t end = 0;      // the first scan back at its usual rate; 0 while the drop lasts
    std::uint32_t lowest = 0; // the lowest transmit rate in the drop
};

// What a link's samples say: its rates, drops and how steady it ran. Unanswered scans are counted, not measured.
struct LinkSummary {
    MacAddress from;
    MacAddress to;
    std::size_t samples = 0;
    std::size_t unanswered = 0;
    RateFigures transmit;
    RateFigures receive;
    std::vector<LinkDrop> drops;
    // The transmit rate's standard deviation over its mean: 0 for a link that never changed.
    double variation = 0;
};

LinkSummary summarizeLink(const LinkSeries& series);
std::vector<LinkSummary> summarizeLinks(const std::vector<LinkSeries>& series);

// The index of the link with the lowest median transmit rate, or -1 when none was measured.
int slowestLink(const std::vector<LinkSummary>& links);
// The index of the link whose transmit rate varied most (relative to its mean), or -1 when none varied.
int leastSteadyLink(const std::vector<LinkSummary>& links);

// The span of the diagnostics report's link summary: a week, so that every evening and weekend is in it.
inline constexpr std::time_t kReportSpan = 7 * 24 * 60 * 60;

// The summaries of every link of the history at `path` since `since`; `error` says why there are none.
std::vector<LinkSummary> historySummaries(const std::filesystem::path& path, std::time_t since, std::string& error);

// "min / median / max".
std::string rateFiguresText(const RateFigures& figures);
// The links in the report's columns: from, to, transmit and receive figures, drops, unanswered scans.
ListRows linkSummaryRows(const std::vector<LinkSummary>& links);

} // namespace zrq406::app

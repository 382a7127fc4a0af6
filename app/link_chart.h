#pragma once

#include "app/link_history.h"
#include "app/link_statistics.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zrq406 {
class CLoadUISetting;
}

namespace zrq406::app {

// How far back a chart reaches.
enum class ChartSpan { Day, Week, Month };

std::time_t spanSeconds(ChartSpan span);

// What a chart of one link shows: its samples on a time axis from `start` to `end`, a rate axis from 0 to `top`,
// and its figures and drops.
struct LinkChart {
    std::time_t start = 0;
    std::time_t end = 0;
    std::uint32_t top = 0;
    LinkSeries series;
    LinkSummary summary;
    // The highest and the last PB error rate of the samples (0..1), unknown when no sample carries one.
    std::optional<double> worstPbErrorRate;
    std::optional<double> lastPbErrorRate;
};

// The language file's keys of the chart's PB error rate: its legend, and its figures in words.
inline constexpr const char* kChartPbErrorLegend = "msg140";
inline constexpr const char* kChartPbErrorFigures = "msg141";

// The chart of the link from `from` to `to` over `span` before `now`, read from `history`.
HistoryResult buildLinkChart(LinkHistory& history, const MacAddress& from, const MacAddress& to, ChartSpan span,
                             std::time_t now, LinkChart& chart);

// A device's name for the texts: the name it was last seen with, else its MAC.
using DeviceNamer = std::function<std::string(const MacAddress&)>;

// The chart's figures in words, as its description for screen readers: rates, scans, unanswered scans, the
// times of its drops and its PB error rate.
std::string chartDescription(CLoadUISetting& texts, const LinkChart& chart, const DeviceNamer& name, bool german);
// The slowest and the least steady of `links` named in words; "" when there is nothing to name.
std::string linkRankingText(CLoadUISetting& texts, const std::vector<LinkSummary>& links, const DeviceNamer& name);
// "dd.mm. HH:MM" in German, "mm/dd HH:MM" in English: the chart's times in the dialog's words.
std::string chartTimeText(std::time_t when, bool german);

} // namespace zrq406::app

#include "app/link_chart.h"

#include "app/link_health.h"
#include "platform/display_text.h"
#include "uitext/load_ui_setting.h"
#include "uitext/placeholders.h"

#include <algorithm>

namespace zrq406::app {

namespace {

constexpr char kRoot[] = "ZRQ406";
constexpr char kNode[] = "LinkHistory";

std::string text(CLoadUISetting& texts, const char* node, const char* field) {
    return texts.LoadPageCaption(kRoot, kNode, node, field);
}

std::string linkName(const LinkSummary& link, const DeviceNamer& name) {
    return name(link.from) + " \xE2\x86\x92 " + name(link.to);
}

} // namespace

std::time_t spanSeconds(ChartSpan span) {
    constexpr std::time_t kDay = 24 * 60 * 60;
    switch (span) {
    case ChartSpan::Day:
        return kDay;
    case ChartSpan::Week:
        return 7 * kDay;
    case ChartSpan::Month:
        return 30 * kDay;
    }
    return kDay;
}

HistoryResult buildLinkChart(LinkHistory& history, const MacAddress& from, const MacAddress& to, ChartSpan span,
                             std::time_t now, LinkChart& chart) {
    chart = {};
    chart.end = now;
    chart.start = now - spanSeconds(span);
    if (HistoryResult read = history.link(from, to, chart.start, chart.series); !read)
        return read;
    chart.summary = summarizeLink(chart.series);
    for (const LinkSample& sample : chart.series.samples) {
        if (!sample.pbErrorRate)
            continue;
        chart.lastPbErrorRate = sample.pbErrorRate;
        chart.worstPbErrorRate = std::max(chart.worstPbErrorRate.value_or(0), *sample.pbErrorRate);
    }
    const std::uint32_t highest = std::max(chart.summary.transmit.maximum, chart.summary.receive.maximum);
    // Round numbers on the rate axis: its quarter lines fall on multiples of 10 Mbit/s, above the highest rate.
    chart.top = std::max<std::uint32_t>(40, (highest / 40 + 1) * 40);
    return {};
}

std::string chartTimeText(std::time_t when, bool german) {
    return localTimeText(when, german ? "%d.%m. %H:%M" : "%m/%d %H:%M");
}

std::string chartDescription(CLoadUISetting& texts, const LinkChart& chart, const DeviceNamer& name, bool german) {
    const LinkSummary& s = chart.summary;
    if (s.samples == 0)
        return fillPlaceholders(text(texts, "Figures", "Text4"), {linkName(s, name)});
    std::string out = fillPlaceholders(text(texts, "Figures", "Text"),
                                       {linkName(s, name), rateFiguresText(s.transmit), rateFiguresText(s.receive),
                                        std::to_string(s.samples), std::to_string(s.unanswered)});
    if (chart.worstPbErrorRate)
        out += ' ' + fillPlaceholders(texts.LoadPageCaption(kRoot, "Messages", kChartPbErrorFigures, "Text"),
                                      {percentText(chart.worstPbErrorRate), percentText(chart.lastPbErrorRate)});
    if (s.drops.empty())
        return out + ' ' + text(texts, "Figures", "Text3");
    std::string times;
    for (const LinkDrop& d : s.drops) {
        if (!times.empty())
            times += ", ";
        times += chartTimeText(d.start, german) + " (" + std::to_string(d.lowest) + " Mbit/s)";
    }
    return out + ' ' + fillPlaceholders(text(texts, "Figures", "Text2"), {times});
}

std::string linkRankingText(CLoadUISetting& texts, const std::vector<LinkSummary>& links, const DeviceNamer& name) {
    std::string out;
    if (const int slowest = slowestLink(links); slowest >= 0) {
        const LinkSummary& s = links[static_cast<std::size_t>(slowest)];
        out = fillPlaceholders(text(texts, "Ranking", "Text"), {linkName(s, name), std::to_string(s.transmit.median)});
    }
    if (const int unsteady = leastSteadyLink(links); unsteady >= 0) {
        const LinkSummary& s = links[static_cast<std::size_t>(unsteady)];
        out += (out.empty() ? "" : "\n") +
               fillPlaceholders(text(texts, "Ranking", "Text2"), {linkName(s, name), std::to_string(s.transmit.minimum),
                                                                  std::to_string(s.transmit.maximum)});
    }
    return out;
}

} // namespace zrq406::app

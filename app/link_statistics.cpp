#include "app/link_statistics.h"

#include <algorithm>
#include <cmath>

namespace zrq406::app {

namespace {

RateFigures figuresOf(std::vector<std::uint32_t> rates) {
    if (rates.empty())
        return {};
    std::sort(rates.begin(), rates.end());
    return {rates.front(), rates[rates.size() / 2], rates.back()};
}

} // namespace

LinkSummary summarizeLink(const LinkSeries& series) {
    LinkSummary summary;
    summary.from = series.from;
    summary.to = series.to;
    summary.samples = series.samples.size();
    std::vector<std::uint32_t> tx;
    std::vector<std::uint32_t> rx;
    for (const LinkSample& s : series.samples) {
        if (!s.answered) {
            ++summary.unanswered;
            continue;
        }
        tx.push_back(s.transmitRate);
        rx.push_back(s.receiveRate);
    }
    summary.transmit = figuresOf(tx);
    summary.receive = figuresOf(rx);
    if (tx.empty())
        return summary;

    double sum = 0;
    for (std::uint32_t r : tx)
        sum += r;
    const double mean = sum / static_cast<double>(tx.size());
    double squares = 0;
    for (std::uint32_t r : tx)
        squares += (r - mean) * (r - mean);
    summary.variation = mean > 0 ? std::sqrt(squares / static_cast<double>(tx.size())) / mean : 0;

    // Half the median: a link's usual rate wanders by a few percent, a charger or dimmer on the line halves it.
    const double low = summary.transmit.median / 2.0;
    for (const LinkSample& s : series.samples) {
        if (!s.answered)
            continue;
        const bool isLow = s.transmitRate < low;
        const bool inDrop = !summary.drops.empty() && summary.drops.back().end == 0;
        if (isLow && !inDrop)
            summary.drops.push_back({s.when, 0, s.transmitRate});
        else if (isLow)
            summary.drops.back().lowest = std::min(summary.drops.back().lowest, s.transmitRate);
        else if (inDrop)
            summary.drops.back().end = s.when;
    }
    return summary;
}

std::vector<LinkSummary> summarizeLinks(const std::vector<LinkSeries>& series) {
    std::vector<LinkSummary> out;
    out.reserve(series.size());
    for (const LinkSeries& s : series)
        out.push_back(summarizeLink(s));
    return out;
}

int slowestLink(const std::vector<LinkSummary>& links) {
    int best = -1;
    for (std::size_t i = 0; i < links.size(); ++i)
        if (links[i].samples > links[i].unanswered &&
            (best < 0 || links[i].transmit.median < links[static_cast<std::size_t>(best)].transmit.median))
            best = static_cast<int>(i);
    return best;
}

int leastSteadyLink(const std::vector<LinkSummary>& links) {
    int best = -1;
    for (std::size_t i = 0; i < links.size(); ++i)
        if (links[i].variation > 0 &&
            (best < 0 || links[i].variation > links[static_cast<std::size_t>(best)].variation))
            best = static_cast<int>(i);
    return best;
}

std::vector<LinkSummary> historySummaries(const std::filesystem::path& path, std::time_t since, std::string& error) {
    error.clear();
    std::error_code ec;
    if (path.empty() || !std::filesystem::exists(path, ec))
        return {};
    LinkHistory history(path);
    if (const HistoryOpenResult opened = history.open(); !opened) {
        error = opened.result.error;
        return {};
    }
    std::vector<LinkSeries> series;
    if (const HistoryResult read = history.links(since, std::nullopt, series); !read) {
        error = read.error;
        return {};
    }
    return summarizeLinks(series);
}

std::string rateFiguresText(const RateFigures& figures) {
    return std::to_string(figures.minimum) + " / " + std::to_string(figures.median) + " / " +
           std::to_string(figures.maximum);
}

ListRows linkSummaryRows(const std::vector<LinkSummary>& links) {
    ListRows rows;
    for (const LinkSummary& l : links)
        rows.push_back({l.from.text(), l.to.text(), rateFiguresText(l.transmit), rateFiguresText(l.receive),
                        std::to_string(l.drops.size()), std::to_string(l.unanswered)});
    return rows;
}

} // namespace zrq406::app

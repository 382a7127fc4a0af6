#pragma once

#include <QDialog>
#include <ctime>
#include <memory>
#include <string>

class QComboBox;
class QLabel;

namespace zrq406 {
struct MacAddress;
}

namespace zrq406::utility {

class LinkChartView;
class UtilityContext;

// The link history of the scans: a chosen link's transmit and receive rates over the last day, week or month, with
// the slowest and the least steady links named beside the chart and the chart's figures in words below it.
class CLinkHistoryDialog : public QDialog {
    Q_OBJECT
public:
    // Opens on the first link from or to `deviceMac` ("" for the first link); `now` is the chart's right edge.
    CLinkHistoryDialog(UtilityContext& context, const std::string& deviceMac, QWidget* parent = nullptr,
                       std::time_t now = std::time(nullptr));
    ~CLinkHistoryDialog() override;

    LinkChartView* chartView() const { return m_chart; }
    QLabel* figures() const { return m_figures; }

private:
    void reload();
    void showChosenLink();
    std::string nameOf(const MacAddress& mac) const;

    UtilityContext& m_context;
    std::time_t m_now;
    // The history read and what was read from it.
    struct State;
    std::unique_ptr<State> m_state;
    std::string m_preferredDevice;
    QComboBox* m_link = nullptr;
    QComboBox* m_span = nullptr;
    LinkChartView* m_chart = nullptr;
    QLabel* m_ranking = nullptr;
    QLabel* m_figures = nullptr;
};

} // namespace zrq406::utility

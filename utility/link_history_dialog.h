#pragma once

#include <QDialog>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

class QComboBox;
class QLabel;

namespace zrq406 {
struct MacAddress;
class WorkerRunner;
} // namespace zrq406

namespace zrq406::app {
class LinkHistoryReader;
struct LinkHistoryView;
} // namespace zrq406::app

namespace zrq406::utility {

class LinkChartView;
class UtilityContext;

// The link history of the scans: a chosen link's transmit and receive rates over the last day, week or month, with
// the slowest and the least steady links named beside the chart and the chart's figures in words below it. The
// history is read on a worker, never on the window thread (another program may hold it); the window shows each
// reading when it arrives.
class CLinkHistoryDialog : public QDialog {
    Q_OBJECT
public:
    // Opens on the first link from or to `deviceMac` ("" for the first link); `now` is the chart's right edge.
    CLinkHistoryDialog(UtilityContext& context, const std::string& deviceMac, QWidget* parent = nullptr,
                       std::time_t now = std::time(nullptr));
    ~CLinkHistoryDialog() override;

    LinkChartView* chartView() const { return m_chart; }
    QLabel* figures() const { return m_figures; }
    // True while the history is being read for the chosen period or link.
    bool reading() const { return m_reading; }

private:
    // Reads the period and link chosen now; after the reading under way when there is one.
    void requestReading();
    void startReading();
    void showReading(const app::LinkHistoryView& view);
    std::string nameOf(const MacAddress& mac) const;

    UtilityContext& m_context;
    std::time_t m_now;
    // What was read last.
    struct State;
    std::unique_ptr<State> m_state;
    std::shared_ptr<app::LinkHistoryReader> m_reader;
    std::unique_ptr<WorkerRunner> m_workers;
    bool m_reading = false;
    bool m_pending = false;
    std::string m_preferredDevice;
    QComboBox* m_link = nullptr;
    QComboBox* m_span = nullptr;
    LinkChartView* m_chart = nullptr;
    QLabel* m_ranking = nullptr;
    QLabel* m_figures = nullptr;
};

} // namespace zrq406::utility

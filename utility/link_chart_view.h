#pragma once

#include <QString>
#include <QWidget>
#include <memory>

namespace zrq406::app {
struct LinkChart;
}

namespace zrq406::utility {

// Paints one link's transmit and receive rates over time, and its PB error rate where the history kept it: drops
// shaded, unanswered scans marked along the time axis. Its accessible description carries the same figures in words.
class LinkChartView : public QWidget {
    Q_OBJECT
public:
    struct Legend {
        QString transmit;
        QString receive;
        QString drop;
        QString unanswered;
        QString pbErrors; // the PB error rate, on the right-hand axis in percent
    };

    explicit LinkChartView(QWidget* parent = nullptr);
    ~LinkChartView() override;

    void setLegend(const Legend& legend) { m_legend = legend; }
    void setChart(const app::LinkChart& chart, const QString& description, bool german);
    const app::LinkChart& chart() const { return *m_chart; }

    QSize sizeHint() const override { return {640, 300}; }
    QSize minimumSizeHint() const override { return {360, 200}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::unique_ptr<app::LinkChart> m_chart;
    Legend m_legend;
    bool m_german = false;
};

} // namespace zrq406::utility

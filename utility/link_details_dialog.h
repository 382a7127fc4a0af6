#pragma once

// moc cannot parse the standard headers these reach; it needs none of their types.
#ifndef Q_MOC_RUN
#include "app/link_health.h"
#endif

#include <QDialog>
#include <QWidget>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QTreeWidget;

namespace zrq406::utility {

class CHomePlugDeviceManagerDlg;

// Bits per carrier across 1.8-30 MHz as bars, the bands that carry nothing or little shaded. Its accessible
// description and tooltip are the summary in words, bands named.
class CarrierChartView : public QWidget {
    Q_OBJECT
public:
    explicit CarrierChartView(QWidget* parent = nullptr);

    // `bits`: kCarriers values (empty: no map); `bands` shaded; `description` in words.
    void setCarriers(std::vector<double> bits, std::vector<app::CarrierBand> bands, const QString& description);
    const std::vector<app::CarrierBand>& bands() const { return m_bands; }

    QSize sizeHint() const override { return {560, 240}; }
    QSize minimumSizeHint() const override { return {320, 160}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<double> m_bits;
    std::vector<app::CarrierBand> m_bands;
};

// One link's details: both directions' rates, the counters and rates of loss, and the carriers of either
// direction (one slot, or the mean of the slots) with the lost bands named beside the chart. The devices are read
// on a worker as the main window's device operation; "Clear counters" asks first, then clears both ends' counters
// and reads again.
class CLinkDetailsDialog : public QDialog {
    Q_OBJECT
public:
    // The link from `from` to `to` (the carriers first shown are those with which `to` receives from `from`).
    CLinkDetailsDialog(CHomePlugDeviceManagerDlg& main, const MacAddress& from, const MacAddress& to,
                       QWidget* parent = nullptr);
    ~CLinkDetailsDialog() override;

    // What one reading found.
    struct Reading {
        app::HealthTable health;
        std::array<app::LinkDirectionHealth, 2> directions; // from -> to, to -> from
        std::array<app::CarrierMap, 2> maps;                // as `to` receives from `from`, and the other way
        std::array<app::CarrierMapOutcome, 2> outcomes{app::CarrierMapOutcome::NoAnswer,
                                                       app::CarrierMapOutcome::NoAnswer};
    };

    // True while the devices are being read or cleared.
    bool reading() const { return m_reading; }
    QTreeWidget* figures() const { return m_figures; }
    CarrierChartView* chart() const { return m_chart; }
    QLabel* summary() const { return m_summary; }
    const std::optional<Reading>& lastReading() const { return m_last; }

    // Starts a reading of both ends (as the Clear counters button does after clearing).
    void read(bool clearFirst = false);

private:
    void show(const Reading& reading);
    void showCarriers();
    std::string text(const char* node, const char* field = "Text") const;
    std::string label(const MacAddress& mac) const;

    CHomePlugDeviceManagerDlg& m_main;
    MacAddress m_from;
    MacAddress m_to;
    bool m_reading = false;
    std::optional<Reading> m_last;
    QLabel* m_heading = nullptr;
    QTreeWidget* m_figures = nullptr;
    QComboBox* m_direction = nullptr;
    QComboBox* m_slot = nullptr;
    CarrierChartView* m_chart = nullptr;
    QLabel* m_summary = nullptr;
    QLabel* m_state = nullptr;
    QPushButton* m_clear = nullptr;
};

} // namespace zrq406::utility

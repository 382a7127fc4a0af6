#include "utility/link_details_dialog.h"

#include "app/health_texts.h"
#include "gui/page_layout.h"
#include "gui/run_operation.h"
#include "gui/widget_font.h"
#include "uitext/load_ui_setting.h"
#include "uitext/placeholders.h"
#include "utility/main_dialog.h"
#include "utility/network_map.h"
#include "utility/network_map_page.h"
#include "utility/utility_context.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <functional>

namespace zrq406::utility {

namespace {

constexpr char kPage[] = "LinkDetails";
// Asks before the counters of a link are cleared (%s, %s: its two devices).
constexpr char kAskClear[] = "msg119";
// The counters of a link could not be cleared (%s: the device that did not).
constexpr char kClearFailed[] = "msg120";

const QColor kBits(0x1f, 0x6f, 0xc5);
const QColor kNone(0xd9, 0x3f, 0x3f, 0x50);
const QColor kLittle(0xf2, 0xa1, 0x2e, 0x50);
// The chart's frequency axis (MHz) and its bits axis (12 bits: 4096-QAM).
constexpr double kLowMhz = 1.8;
constexpr double kHighMhz = 30.0;
constexpr double kTopBits = 12.0;

std::string countText(std::uint64_t count) {
    return std::to_string(count);
}

} // namespace

CarrierChartView::CarrierChartView(QWidget* parent) : QWidget(parent) {
    // Reached by Tab, so that a screen reader reads the summary of the description.
    setFocusPolicy(Qt::StrongFocus);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
}

void CarrierChartView::setCarriers(std::vector<double> bits, std::vector<app::CarrierBand> bands,
                                   const QString& description) {
    m_bits = std::move(bits);
    m_bands = std::move(bands);
    setAccessibleDescription(description);
    setToolTip(description);
    update();
}

void CarrierChartView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QFontMetrics fm = fontMetrics();
    const int left = fm.horizontalAdvance(QStringLiteral("12")) + 10;
    const QRect plot(left, fm.height() + 6, width() - left - 12, height() - 3 * fm.height() - 14);
    if (plot.width() < 20 || plot.height() < 20)
        return;
    const QColor text = palette().color(QPalette::Text);
    const auto xOf = [&](double mhz) { return plot.left() + plot.width() * (mhz - kLowMhz) / (kHighMhz - kLowMhz); };
    const auto yOf = [&](double bits) { return plot.bottom() - plot.height() * bits / kTopBits; };

    // The lost bands under the bars.
    for (const app::CarrierBand& band : m_bands) {
        const double x0 = xOf(band.fromMhz);
        const double x1 = std::max(x0 + 2, xOf(band.toMhz));
        p.fillRect(QRectF(x0, plot.top(), x1 - x0, plot.height()), band.none ? kNone : kLittle);
    }
    // One bar per carrier: 1154 carriers across a few hundred pixels, so each column shows its carriers' mean.
    if (!m_bits.empty()) {
        const int columns = std::max(1, plot.width());
        for (int c = 0; c < columns; ++c) {
            const std::size_t first = m_bits.size() * static_cast<std::size_t>(c) / static_cast<std::size_t>(columns);
            const std::size_t last = std::max(first + 1, m_bits.size() * static_cast<std::size_t>(c + 1) /
                                                             static_cast<std::size_t>(columns));
            double sum = 0;
            for (std::size_t k = first; k < last && k < m_bits.size(); ++k)
                sum += m_bits[k];
            const double mean = sum / static_cast<double>(last - first);
            if (mean > 0)
                p.fillRect(QRectF(plot.left() + c, yOf(mean), 1, plot.bottom() - yOf(mean)), kBits);
        }
    }
    // Axes: bits on the left (0, 4, 8, 12), MHz along the bottom.
    p.setPen(text);
    p.drawRect(plot);
    p.drawText(2, fm.ascent(), QStringLiteral("bit"));
    for (int bits = 0; bits <= 12; bits += 4) {
        const int y = static_cast<int>(yOf(bits));
        p.drawLine(plot.left() - 3, y, plot.left(), y);
        p.drawText(QRect(0, y - fm.height() / 2, left - 5, fm.height()), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(bits));
    }
    for (const double mhz : {2.0, 5.0, 10.0, 15.0, 20.0, 25.0, 30.0}) {
        const int x = static_cast<int>(xOf(mhz));
        p.drawLine(x, plot.bottom(), x, plot.bottom() + 3);
        const QString label = QString::number(mhz, 'f', 0);
        p.drawText(QRect(x - 20, plot.bottom() + 4, 40, fm.height()), Qt::AlignHCenter | Qt::AlignTop, label);
    }
    p.drawText(QRect(plot.left(), plot.bottom() + 4 + fm.height(), plot.width(), fm.height()), Qt::AlignHCenter,
               QStringLiteral("MHz"));
}

CLinkDetailsDialog::CLinkDetailsDialog(CHomePlugDeviceManagerDlg& main, const MacAddress& from, const MacAddress& to,
                                       QWidget* parent)
    : QDialog(parent), m_main(main), m_from(from), m_to(to) {
    setObjectName(QStringLiteral("CLinkDetailsDialog"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    CLoadUISetting& texts = main.context().texts;
    setWindowTitle(qtText(texts.LoadPageCaption("ZRQ406", kPage, "Text")));

    m_heading = new QLabel(this);
    m_heading->setObjectName(QStringLiteral("lblLink"));
    QFont bold = m_heading->font();
    bold.setBold(true);
    m_heading->setFont(bold);
    m_figures = new QTreeWidget(this);
    m_figures->setObjectName(QStringLiteral("lstFigures"));
    m_figures->setAccessibleName(qtText(text("Figures")));
    m_figures->setRootIsDecorated(false);
    m_figures->setSelectionMode(QAbstractItemView::NoSelection);
    m_figures->setColumnCount(3);
    m_state = new QLabel(this);
    m_state->setObjectName(QStringLiteral("lblState"));
    m_state->setWordWrap(true);

    auto* directionLabel = new QLabel(qtText(text("CarriersLabel")), this);
    m_direction = new QComboBox(this);
    m_direction->setObjectName(QStringLiteral("cmbDirection"));
    m_direction->setAccessibleName(directionLabel->text());
    directionLabel->setBuddy(m_direction);
    auto* slotLabel = new QLabel(qtText(text("SlotLabel")), this);
    m_slot = new QComboBox(this);
    m_slot->setObjectName(QStringLiteral("cmbSlot"));
    m_slot->setAccessibleName(slotLabel->text());
    m_slot->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_direction->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    slotLabel->setBuddy(m_slot);
    m_chart = new CarrierChartView(this);
    m_chart->setObjectName(QStringLiteral("carrierChart"));
    m_chart->setAccessibleName(qtText(text("Chart")));
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("lblCarriers"));
    m_summary->setWordWrap(true);
    m_summary->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_summary->setMinimumWidth(220);
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    m_clear = new QPushButton(qtText(text("ClearButton")), this);
    m_clear->setObjectName(QStringLiteral("btnClearCounters"));
    m_clear->setAutoDefault(false);
    auto* close = new QPushButton(qtText(text("CloseButton")), this);
    close->setObjectName(QStringLiteral("btnClose"));
    close->setAutoDefault(false);

    auto* choices = new QHBoxLayout;
    choices->addWidget(directionLabel);
    choices->addWidget(m_direction);
    choices->addSpacing(12);
    choices->addWidget(slotLabel);
    choices->addWidget(m_slot);
    choices->addStretch();
    auto* carriers = new QHBoxLayout;
    carriers->addWidget(m_chart, 3);
    carriers->addWidget(m_summary, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_clear);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_heading);
    layout->addWidget(m_figures);
    layout->addWidget(m_state);
    layout->addLayout(choices);
    layout->addLayout(carriers, 2);
    layout->addLayout(buttons);
    ApplyDialogFont(this, texts);
    resize(820, 620);

    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_direction, &QComboBox::currentIndexChanged, this, [this] { showCarriers(); });
    connect(m_slot, &QComboBox::currentIndexChanged, this, [this] { showCarriers(); });
    connect(m_clear, &QPushButton::clicked, this, [this] {
        const std::string question =
            fillPlaceholders(m_main.context().message(kAskClear), {label(m_from), label(m_to)});
        if (m_main.context().show(question, MessageIcon::Exclamation, MessageButtons::YesNo) == MessageAnswer::Yes)
            read(true);
    });

    const std::string a = label(from);
    const std::string b = label(to);
    m_heading->setText(qtText(fillPlaceholders(text("Heading"), {a, b})));
    m_heading->setAccessibleName(m_heading->text());
    m_figures->setHeaderLabels(
        {qtText(text("Columns")), qtText(a + " \xE2\x86\x92 " + b), qtText(b + " \xE2\x86\x92 " + a)});
    {
        const QSignalBlocker blocker(m_direction);
        m_direction->addItem(qtText(a + " \xE2\x86\x92 " + b));
        m_direction->addItem(qtText(b + " \xE2\x86\x92 " + a));
    }
    m_chart->setCarriers({}, {}, qtText(text("Reading")));
    read();
}

CLinkDetailsDialog::~CLinkDetailsDialog() {
    // A reading under way ends before the dialog goes away (its result finds the dialog gone and is dropped).
    if (m_reading)
        m_main.workers().waitForIdle();
}

std::string CLinkDetailsDialog::text(const char* node, const char* field) const {
    return m_main.context().texts.LoadPageCaption("ZRQ406", kPage, node, field);
}

std::string CLinkDetailsDialog::label(const MacAddress& mac) const {
    if (m_last)
        return m_last->health.label(mac);
    return m_main.networkMapPage()->map()->table().label(mac);
}

void CLinkDetailsDialog::read(bool clearFirst) {
    if (m_reading)
        return;
    m_state->setText(qtText(text("Reading")));
    app::Session& session = m_main.context().session;
    const QPointer<CLinkDetailsDialog> self(this);
    const MacAddress from = m_from;
    const MacAddress to = m_to;
    struct Outcome {
        Reading reading;
        std::optional<MacAddress> notCleared;
    };
    const bool started = runOperation<Outcome>(
        m_main,
        [&session, from, to, clearFirst] {
            Outcome outcome;
            if (clearFirst) {
                for (const auto& [device, peer] : {std::pair{from, to}, std::pair{to, from}}) {
                    if (app::clearLinkCounters(session, device, peer) != app::StatisticsOutcome::Done &&
                        !outcome.notCleared)
                        outcome.notCleared = device;
                }
            }
            Reading& r = outcome.reading;
            r.health = app::readLinkHealth(session, from);
            r.directions[0].from = r.directions[1].to = from;
            r.directions[0].to = r.directions[1].from = to;
            for (const app::LinkDirectionHealth& link : r.health.links) {
                if (link.from == from && link.to == to)
                    r.directions[0] = link;
                else if (link.from == to && link.to == from)
                    r.directions[1] = link;
            }
            r.outcomes[0] = app::readCarrierMap(session, to, from, std::nullopt, r.maps[0]);
            r.outcomes[1] = app::readCarrierMap(session, from, to, std::nullopt, r.maps[1]);
            return outcome;
        },
        [self](std::optional<Outcome> outcome) {
            if (!self)
                return;
            self->m_reading = false;
            self->m_clear->setEnabled(true);
            if (!outcome) {
                self->m_state->setText(qtText(self->text("NoAnswer")));
                return;
            }
            self->show(outcome->reading);
            if (outcome->notCleared)
                self->m_main.context().show(
                    fillPlaceholders(self->m_main.context().message(kClearFailed), {self->label(*outcome->notCleared)}),
                    MessageIcon::Stop);
        });
    if (started) {
        m_reading = true;
        m_clear->setEnabled(false);
    } else {
        m_state->setText(qtText(text("NoAnswer")));
    }
}

void CLinkDetailsDialog::show(const Reading& reading) {
    const bool first = !m_last.has_value();
    m_last = reading;
    // At first the direction whose carriers lost the most is shown.
    if (first) {
        std::array<std::size_t, 2> active{};
        for (std::size_t d = 0; d < 2; ++d)
            active[d] = reading.outcomes[d] == app::CarrierMapOutcome::Read
                            ? app::summarizeCarriers(reading.maps[d]).active
                            : mme::kCarriers;
        const QSignalBlocker blocker(m_direction);
        m_direction->setCurrentIndex(active[1] < active[0] ? 1 : 0);
    }
    const bool german = m_main.context().german;
    const std::string unknown = text("Unknown");
    const auto rateCell = [&](const app::LinkDirectionHealth& d) {
        return d.rateKnown ? app::rateText(d.rate, reading.health.rates.rateFieldMax) : unknown;
    };
    const auto percent = [&](const std::optional<double>& fraction) {
        if (!fraction)
            return unknown;
        std::string t = app::percentText(fraction);
        if (german)
            std::replace(t.begin(), t.end(), '.', ',');
        return t;
    };
    // The receiver's count where it told one, else the sender's.
    const auto pbs = [&](const app::LinkDirectionHealth& d) {
        if (d.received)
            return countText(d.received->pbsPassed) + " / " + countText(d.received->pbsFailed);
        if (d.sent)
            return countText(d.sent->pbsPassed) + " / " + countText(d.sent->pbsFailed);
        return unknown;
    };
    const auto mpdus = [&](const app::LinkDirectionHealth& d) {
        if (d.received)
            return countText(d.received->mpdusAcknowledged) + " / " + countText(d.received->mpdusFailed);
        if (d.sent)
            return countText(d.sent->mpdusAcknowledged) + " / " + countText(d.sent->mpdusFailed);
        return unknown;
    };
    const auto collisions = [&](const app::LinkDirectionHealth& d) {
        if (!d.sent)
            return unknown;
        return percent(d.collisionRate()) + " (" + countText(d.sent->mpdusCollided) + ")";
    };
    struct Row {
        const char* node;
        std::function<std::string(const app::LinkDirectionHealth&)> cell;
    };
    const std::vector<Row> rows{
        {"Rate", rateCell},
        {"PbErrorRate", [&](const app::LinkDirectionHealth& d) { return percent(d.pbErrorRate()); }},
        {"MpduFailureRate", [&](const app::LinkDirectionHealth& d) { return percent(d.mpduFailureRate()); }},
        {"Collisions", collisions},
        {"FecBitErrorRate", [&](const app::LinkDirectionHealth& d) { return percent(d.fecBitErrorShare()); }},
        {"Pbs", pbs},
        {"Mpdus", mpdus},
    };
    m_figures->clear();
    for (const Row& row : rows) {
        auto* item = new QTreeWidgetItem(m_figures);
        item->setText(0, qtText(text(row.node)));
        item->setText(1, qtText(row.cell(reading.directions[0])));
        item->setText(2, qtText(row.cell(reading.directions[1])));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    }
    for (int c = 0; c < 3; ++c)
        m_figures->resizeColumnToContents(c);
    // Every row shown, without a scroll bar or room to spare.
    const int rowHeight = m_figures->sizeHintForRow(0);
    m_figures->setFixedHeight(m_figures->header()->sizeHint().height() + rowHeight * m_figures->topLevelItemCount() +
                              2 * m_figures->frameWidth() + 4);

    // Devices that do not offer the messages are said once, here.
    std::string state;
    for (const MacAddress& device : reading.health.withoutStatistics)
        state += fillPlaceholders(text("NoStatistics"), {reading.health.label(device)}) + " ";
    for (const MacAddress& device : reading.health.silent)
        state += fillPlaceholders(text("Silent"), {reading.health.label(device)}) + " ";
    m_state->setText(qtText(state));

    // The slots of the map of the chosen direction; the mean first.
    {
        const QSignalBlocker blocker(m_slot);
        const int chosen = m_slot->currentIndex();
        m_slot->clear();
        m_slot->addItem(qtText(text("SlotMean")));
        std::size_t most = std::max(reading.maps[0].read.size(), reading.maps[1].read.size());
        for (std::size_t s = 0; s < most; ++s)
            m_slot->addItem(qtText(fillPlaceholders(text("SlotItem"), {std::to_string(s)})));
        m_slot->setCurrentIndex(std::clamp(chosen, 0, m_slot->count() - 1));
    }
    showCarriers();
}

void CLinkDetailsDialog::showCarriers() {
    if (!m_last)
        return;
    const int direction = std::max(0, m_direction->currentIndex());
    const app::CarrierMap& map = m_last->maps[static_cast<std::size_t>(direction)];
    const app::CarrierMapOutcome outcome = m_last->outcomes[static_cast<std::size_t>(direction)];
    const MacAddress receiver = direction == 0 ? m_to : m_from;
    const bool german = m_main.context().german;
    const int slotIndex = m_slot->currentIndex();
    std::optional<int> slot;
    if (slotIndex > 0 && static_cast<std::size_t>(slotIndex - 1) < map.read.size())
        slot = map.read[static_cast<std::size_t>(slotIndex - 1)].slot;
    const bool read = outcome == app::CarrierMapOutcome::Read && !map.read.empty();
    const app::CarrierSummary summary = read ? app::summarizeCarriers(map, slot) : app::CarrierSummary{};
    const QString description = qtText(app::carrierSummaryText(
        map, outcome, label(receiver), app::HealthTexts::load(m_main.context().texts, german), slot));
    m_chart->setCarriers(read ? app::carrierBits(map, slot) : std::vector<double>{}, summary.bands, description);
    m_summary->setText(description);
}

} // namespace zrq406::utility

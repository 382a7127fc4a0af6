#include "utility/link_history_dialog.h"

#include "app/link_chart.h"
#include "gui/page_layout.h"
#include "gui/widget_font.h"
#include "uitext/load_ui_setting.h"
#include "utility/link_chart_view.h"
#include "utility/utility_context.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <map>
#include <vector>

namespace zrq406::utility {

struct CLinkHistoryDialog::State {
    std::unique_ptr<app::LinkHistory> history;
    std::map<MacAddress, std::string> names;
    std::vector<app::LinkSummary> links;
};

namespace {

std::string linkText(CLoadUISetting& texts, const char* node, const char* field = "Text") {
    return texts.LoadPageCaption("ZRQ406", "LinkHistory", node, field);
}

} // namespace

CLinkHistoryDialog::CLinkHistoryDialog(UtilityContext& context, const std::string& deviceMac, QWidget* parent,
                                       std::time_t now)
    : QDialog(parent), m_context(context), m_now(now), m_state(std::make_unique<State>()),
      m_preferredDevice(deviceMac) {
    setObjectName(QStringLiteral("CLinkHistoryDialog"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    CLoadUISetting& texts = context.texts;
    setWindowTitle(qtText(texts.LoadPageCaption("ZRQ406", "LinkHistory", "Text")));

    auto* linkLabel = new QLabel(qtText(linkText(texts, "LinkLabel")), this);
    m_link = new QComboBox(this);
    m_link->setObjectName(QStringLiteral("cmbLink"));
    m_link->setAccessibleName(linkLabel->text());
    m_link->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    linkLabel->setBuddy(m_link);
    auto* spanLabel = new QLabel(qtText(linkText(texts, "SpanLabel")), this);
    m_span = new QComboBox(this);
    m_span->setObjectName(QStringLiteral("cmbSpan"));
    m_span->setAccessibleName(spanLabel->text());
    for (const char* field : {"Text", "Text2", "Text3"})
        m_span->addItem(qtText(linkText(texts, "Span", field)));
    spanLabel->setBuddy(m_span);

    m_chart = new LinkChartView(this);
    m_chart->setObjectName(QStringLiteral("linkChart"));
    m_chart->setAccessibleName(qtText(linkText(texts, "Chart")));
    m_chart->setLegend({qtText(linkText(texts, "Legend")), qtText(linkText(texts, "Legend", "Text2")),
                        qtText(linkText(texts, "Legend", "Text3")), qtText(linkText(texts, "Legend", "Text4"))});
    m_ranking = new QLabel(this);
    m_ranking->setObjectName(QStringLiteral("lblRanking"));
    m_ranking->setWordWrap(true);
    m_ranking->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_ranking->setMinimumWidth(200);
    m_ranking->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_figures = new QLabel(this);
    m_figures->setObjectName(QStringLiteral("lblFigures"));
    m_figures->setWordWrap(true);
    m_figures->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    auto* close = new QPushButton(qtText(linkText(texts, "CloseButton")), this);
    close->setObjectName(QStringLiteral("btnClose"));
    close->setAutoDefault(false);

    auto* choices = new QGridLayout;
    choices->addWidget(linkLabel, 0, 0);
    choices->addWidget(m_link, 0, 1);
    choices->addWidget(spanLabel, 1, 0);
    choices->addWidget(m_span, 1, 1);
    choices->setColumnStretch(2, 1);
    auto* middle = new QHBoxLayout;
    middle->addWidget(m_chart, 3);
    middle->addWidget(m_ranking, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(choices);
    layout->addLayout(middle, 1);
    layout->addWidget(m_figures);
    layout->addLayout(buttons);
    ApplyDialogFont(this, texts);

    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_span, &QComboBox::currentIndexChanged, this, [this] { reload(); });
    connect(m_link, &QComboBox::currentIndexChanged, this, [this] { showChosenLink(); });

    const std::filesystem::path path = context.session.scanRecorder().path();
    std::error_code ec;
    if (!path.empty() && std::filesystem::exists(path, ec)) {
        m_state->history = std::make_unique<app::LinkHistory>(path);
        if (!m_state->history->open())
            m_state->history.reset();
    }
    if (m_state->history) {
        std::vector<app::DeviceSighting> devices;
        if (m_state->history->devices(devices))
            for (const app::DeviceSighting& d : devices)
                m_state->names[d.mac] = d.name.empty() ? d.mac.text() : d.name;
    }
    reload();
}

CLinkHistoryDialog::~CLinkHistoryDialog() = default;

std::string CLinkHistoryDialog::nameOf(const MacAddress& mac) const {
    const auto found = m_state->names.find(mac);
    return found != m_state->names.end() ? found->second : mac.text();
}

void CLinkHistoryDialog::reload() {
    const auto span = static_cast<app::ChartSpan>(std::max(0, m_span->currentIndex()));
    std::vector<app::LinkSeries> series;
    if (m_state->history && !m_state->history->links(m_now - app::spanSeconds(span), std::nullopt, series))
        series.clear();
    m_state->links = app::summarizeLinks(series);

    // The chosen link stays chosen across periods; else the first one of the device the dialog was opened for.
    int keep = m_link->currentIndex();
    MacAddress keptFrom;
    MacAddress keptTo;
    if (keep >= 0) {
        const QStringList macs = m_link->currentData().toStringList();
        keptFrom = MacAddress::fromText(stdText(macs.value(0)));
        keptTo = MacAddress::fromText(stdText(macs.value(1)));
    }
    const std::optional<MacAddress> device = MacAddress::parse(m_preferredDevice);
    const QSignalBlocker blocker(m_link);
    m_link->clear();
    int choose = -1;
    const auto name = [this](const MacAddress& mac) { return nameOf(mac); };
    for (std::size_t i = 0; i < m_state->links.size(); ++i) {
        const app::LinkSummary& l = m_state->links[i];
        m_link->addItem(qtText(name(l.from) + " \xE2\x86\x92 " + name(l.to)),
                        QStringList{qtText(l.from.text()), qtText(l.to.text())});
        const int index = static_cast<int>(i);
        if (keep >= 0 && l.from == keptFrom && l.to == keptTo)
            choose = index;
        else if (keep < 0 && choose < 0 && device && (l.from == *device || l.to == *device))
            choose = index;
    }
    m_link->setCurrentIndex(m_state->links.empty() ? -1 : std::max(choose, 0));
    m_ranking->setText(qtText(app::linkRankingText(m_context.texts, m_state->links, name)));
    showChosenLink();
}

void CLinkHistoryDialog::showChosenLink() {
    const int index = m_link->currentIndex();
    app::LinkChart chart;
    chart.end = m_now;
    const auto span = static_cast<app::ChartSpan>(std::max(0, m_span->currentIndex()));
    chart.start = m_now - app::spanSeconds(span);
    chart.top = 40;
    QString description = qtText(linkText(m_context.texts, "Chart", "Text2"));
    if (m_state->history && index >= 0 && static_cast<std::size_t>(index) < m_state->links.size()) {
        const app::LinkSummary& l = m_state->links[static_cast<std::size_t>(index)];
        if (app::buildLinkChart(*m_state->history, l.from, l.to, span, m_now, chart))
            description = qtText(app::chartDescription(
                m_context.texts, chart, [this](const MacAddress& mac) { return nameOf(mac); }, m_context.german));
    }
    m_chart->setChart(chart, description, m_context.german);
    m_figures->setText(description);
}

} // namespace zrq406::utility

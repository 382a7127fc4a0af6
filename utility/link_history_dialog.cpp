#include "utility/link_history_dialog.h"

#include "app/link_chart.h"
#include "app/link_history_reader.h"
#include "gui/page_layout.h"
#include "gui/widget_font.h"
#include "gui/worker_runner.h"
#include "uitext/load_ui_setting.h"
#include "utility/link_chart_view.h"
#include "utility/utility_context.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <map>
#include <vector>

namespace zrq406::utility {

struct CLinkHistoryDialog::State {
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
      m_reader(std::make_shared<app::LinkHistoryReader>(context.session.scanRecorder().path())),
      m_workers(std::make_unique<WorkerRunner>(this)), m_preferredDevice(deviceMac) {
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
                        qtText(linkText(texts, "Legend", "Text3")), qtText(linkText(texts, "Legend", "Text4")),
                        qtText(texts.LoadPageCaption("ZRQ406", "Messages", app::kChartPbErrorLegend, "Text"))});
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
    connect(m_span, &QComboBox::currentIndexChanged, this, [this] { requestReading(); });
    connect(m_link, &QComboBox::currentIndexChanged, this, [this] { requestReading(); });

    app::LinkChart empty;
    empty.end = now;
    empty.start = now - app::spanSeconds(app::ChartSpan::Day);
    empty.top = 40;
    const QString reading = qtText(linkText(texts, "Chart", "Text3"));
    m_chart->setChart(empty, reading, context.german);
    m_figures->setText(reading);
    requestReading();
}

CLinkHistoryDialog::~CLinkHistoryDialog() {
    m_workers->waitForIdle();
}

std::string CLinkHistoryDialog::nameOf(const MacAddress& mac) const {
    const auto found = m_state->names.find(mac);
    return found != m_state->names.end() ? found->second : mac.text();
}

void CLinkHistoryDialog::requestReading() {
    if (m_reading)
        m_pending = true;
    else
        startReading();
}

void CLinkHistoryDialog::startReading() {
    m_reading = true;
    m_pending = false;
    const auto span = static_cast<app::ChartSpan>(std::max(0, m_span->currentIndex()));
    // The chosen link stays chosen across periods; else the first one of the device the dialog was opened for.
    std::optional<app::LinkChoice> keep;
    if (m_link->currentIndex() >= 0) {
        const QStringList macs = m_link->currentData().toStringList();
        keep =
            app::LinkChoice{MacAddress::fromText(stdText(macs.value(0))), MacAddress::fromText(stdText(macs.value(1)))};
    }
    const std::optional<MacAddress> device = MacAddress::parse(m_preferredDevice);
    const QPointer<CLinkHistoryDialog> self(this);
    m_workers->start<app::LinkHistoryView>(
        [reader = m_reader, span, now = m_now, keep, device] { return reader->read(span, now, keep, device); },
        [self](app::LinkHistoryView view) {
            if (!self)
                return;
            self->m_reading = false;
            // A choice made meanwhile is read first; this reading is already out of date.
            if (self->m_pending)
                self->startReading();
            else
                self->showReading(view);
        });
}

void CLinkHistoryDialog::showReading(const app::LinkHistoryView& view) {
    m_state->names = view.names;
    m_state->links = view.links;
    {
        const QSignalBlocker blocker(m_link);
        m_link->clear();
        for (const app::LinkSummary& l : m_state->links)
            m_link->addItem(qtText(nameOf(l.from) + " \xE2\x86\x92 " + nameOf(l.to)),
                            QStringList{qtText(l.from.text()), qtText(l.to.text())});
        m_link->setCurrentIndex(view.chosen);
    }
    const auto name = [this](const MacAddress& mac) { return nameOf(mac); };
    m_ranking->setText(qtText(app::linkRankingText(m_context.texts, m_state->links, name)));
    QString description = qtText(linkText(m_context.texts, "Chart", view.result ? "Text2" : "Text4"));
    if (view.result && view.chosen >= 0)
        description = qtText(app::chartDescription(m_context.texts, view.chart, name, m_context.german));
    m_chart->setChart(view.chart, description, m_context.german);
    m_figures->setText(description);
}

} // namespace zrq406::utility

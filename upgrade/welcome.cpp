#include "upgrade/welcome.h"

#include "app/session.h"
#include "app/upgrade_search.h"
#include "app/upgrade_tool_state.h"
#include "gui/page_layout.h"
#include "gui/widget_font.h"
#include "gui/window_thread.h"
#include "uitext/placeholders.h"
#include "upgrade/new_wiz_dialog.h"
#include "upgrade/page_label.h"
#include "upgrade/upgrade_tool_context.h"

#include <QLabel>
#include <QPushButton>

namespace zrq406 {

namespace {
// The adapter table holds at most this many adapters.
constexpr std::size_t kMaxAdapterNames = 16;
} // namespace

CWelcome::CWelcome(CNewWizDialog& frame, UpgradeToolContext& context, const app::LinkOptions& link)
    : CNewWizPage(frame, kTemplateId), m_context(context), m_link(std::make_unique<app::LinkOptions>(link)),
      m_runner(this) {}

CWelcome::~CWelcome() {
    m_runner.waitForIdle();
}

bool CWelcome::InitPage() {
    PageLayout layout(m_context.texts(), "WelcomeDLG");
    auto* heading = makePageLabel(this);
    layout.control(heading, "Catpion", 1018);
    // The title goes in as text: the heading is never used as a format.
    heading->setText(qtText(" " + fillPlaceholders(stdText(heading->text()), {m_context.title()})));
    layout.control(makePageLabel(this), "Welcome", -1);
    layout.control(makePageLabel(this), "Welcome3", 1030);
    layout.control(makePageLabel(this), "WelcomeNote", 1031);
    layout.control(makePageLabel(this), "WelcomeMaint", 1029);
    ApplyDialogFont(this, m_context.texts());
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    headingFont.setPointSizeF(headingFont.pointSizeF() * 1.3);
    heading->setFont(headingFont);

    app::Session& session = m_context.session();
    if (!session.isOpen()) {
        const app::OpenResult opened = session.open(*m_link);
        if (!opened) {
            // Beyond "no adapter", the reason (missing capabilities, a bad network file) is told in plain words.
            // An installed frame helper is reached by joining its group, which the tool's own text explains.
            const std::string more = opened.failure == app::OpenFailure::NoAdapter ? std::string()
                                     : opened.helper.empty()                       ? opened.error
                                                             : m_context.text({"Messages", "msg20", "Text"});
            m_context.message("msg02", MessageIcon::Stop, MessageButtons::Ok, more);
        }
    }
    m_adapterNames = session.adapterTexts();
    if (m_adapterNames.size() > kMaxAdapterNames)
        m_adapterNames.resize(kMaxAdapterNames);
    return true;
}

void CWelcome::ReleasePage() {
    m_runner.waitForIdle();
}

int CWelcome::NextPageId() {
    if (m_searchFinished.exchange(false))
        return m_context.state().queue.empty() ? 1 : m_searchResult.load();
    if (m_runner.busy())
        return 1;
    // A new search: the wizard stays here until the worker moves it on. Next and Cancel are off before the worker
    // starts, so that no Cancel or Escape closes the wizard under a running search.
    m_searchResult = 1;
    CNewWizDialog& wizard = frame();
    wizard.nextButton()->setEnabled(false);
    wizard.cancelButton()->setEnabled(false);
    setEnabled(false);
    m_runner.start([this] {
        const app::OperationLease operation = m_context.session().runner().begin();
        search();
    });
    return 1;
}

void CWelcome::search() {
    CNewWizDialog& wizard = frame();
    app::UpgradeSearchSettings settings;
    settings.targetFirmware = m_context.textOr({"Utility", "FirmwareVersion"}, settings.targetFirmware);
    settings.modelName = m_context.textOr({"Utility", "ModelName"}, settings.modelName);
    settings.defaultName = m_context.text({"DeviceList", "Devices", "ColumnName", "value"});

    app::UpgradeToolState& state = m_context.state();
    const app::SearchOutcome outcome =
        app::searchUpgradeDevices(m_context.session(), state.queue, settings, state.images.thresholds());
    if (outcome.adapter >= 0)
        state.adapter = outcome.adapter;
    if (outcome.result == app::SearchResult::NoLocalDevice)
        m_context.message("msg04", MessageIcon::Stop);
    else if (outcome.result == app::SearchResult::NothingToUpgrade)
        m_context.message("msg05", MessageIcon::Stop);
    else if (outcome.result == app::SearchResult::LocalConflict)
        m_context.session().messages().show(Message{outcome.conflict, m_context.title(), MessageIcon::Stop});
    const bool found = outcome.result == app::SearchResult::Found;
    m_searchResult = found ? 0 : 1;

    callOnThread(&wizard, [&] {
        setEnabled(true);
        wizard.cancelButton()->setEnabled(true);
        wizard.nextButton()->setEnabled(true);
        m_searchFinished = true;
        if (found) {
            wizard.backButton()->setEnabled(true);
            wizard.wizardStep(CNewWizDialog::StepNext);
        } else {
            // Next starts a new search from an empty queue.
            m_searchFinished = false;
        }
    });
}

} // namespace zrq406

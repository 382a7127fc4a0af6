#include "upgrade/zrq406_upgrade_app.h"

#include "app/instance_names.h"
#include "app/upgrade_offer.h"
#include "app/upgrade_tool_state.h"
#include "gui/picture_box.h"
#include "gui/qt_message_service.h"
#include "gui/qt_translations.h"
#include "platform/instance_lock.h"
#include "uitext/language_choice.h"
#include "uitext/language_texts.h"
#include "uitext/load_ui_setting.h"
#include "upgrade/device_info.h"
#include "upgrade/dut_list.h"
#include "upgrade/finish.h"
#include "upgrade/upgrade_tool_context.h"
#include "upgrade/upgrading.h"
#include "upgrade/welcome.h"
#include "upgrade/zrq406_upgrade_dlg.h"

#include <QApplication>
#include <cstdlib>

namespace zrq406 {

namespace {

constexpr char kSimulate[] = "--simulate";

std::string nodeText(CLoadUISetting& texts, const char* node) {
    std::string value;
    texts.GetStdNodeText({"ZRQ406", "Utility", node}, value);
    return value;
}

} // namespace

std::string upgradeToolUsage() {
    return "Usage: zrq406-upgrade [--simulate[=FILE]] [Qt options]\n"
           "Upgrades the firmware of the TALVERN ZRQ406 powerline devices behind this computer's Ethernet "
           "adapters.\n"
           "  --simulate        work on the built-in simulated powerline network\n"
           "  --simulate=FILE   work on the simulated network described in FILE\n"
           "  -h, --help        show this text\n"
           "ZRQ406_SIMULATE=1 or ZRQ406_SIMULATE=FILE stands for --simulate when it is not given.\n";
}

std::optional<UpgradeToolOptions> parseUpgradeToolArguments(const QStringList& arguments, std::string& error) {
    UpgradeToolOptions options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const std::string argument = arguments[i].toStdString();
        if (argument == kSimulate) {
            options.link.simulate = std::string();
        } else if (argument.rfind(std::string(kSimulate) + "=", 0) == 0) {
            options.link.simulate = argument.substr(std::string(kSimulate).size() + 1);
            if (options.link.simulate->empty()) {
                error = "--simulate= needs a file name";
                return std::nullopt;
            }
        } else {
            error = "unknown argument: " + argument;
            return std::nullopt;
        }
    }
    if (!options.link.simulate)
        if (const char* env = std::getenv("ZRQ406_SIMULATE"); env != nullptr && *env != '\0')
            options.link.simulate = std::string(env) == "1" ? std::string() : std::string(env);
    return options;
}

bool CZRQ406UPGRADEApp::singleInstanceCheck(CLoadUISetting& texts, MessageService& messages, InstanceLock& own) {
    auto message = [&](const char* key) {
        std::string text;
        texts.GetStdNodeText({"ZRQ406", "Messages", key, "Text"}, text);
        return text;
    };
    if (!InstanceLock::exists(app::kBothRunInstance) && InstanceLock::exists(app::kUtilityInstance)) {
        messages.show(
            Message{message("Parentmsg01"), nodeText(texts, "Parent"), MessageIcon::Exclamation, MessageButtons::Ok});
        return false;
    }
    const std::string title = nodeText(texts, "Text");
    if (!own.acquire(app::kUpgradeToolInstance)) {
        messages.show(Message{message("msg01"), title, MessageIcon::Exclamation, MessageButtons::Ok});
        return false;
    }
    return true;
}

int CZRQ406UPGRADEApp::run(const UpgradeToolOptions& options) {
    QApplication::setWindowIcon(PictureBox::applicationIcon());
    QtMessageService messages;
    CLoadUISetting texts(messages, UiTextMode::UpgradeTool, "zrq406-upgrade");
    // The language file lies beside the program or in its data folder, whatever the current folder is; without it
    // the tool runs on in the English texts built into it, and Qt's texts follow.
    const bool german = loadLanguageTexts(texts, messages, LanguageProgram::UpgradeTool,
                                          chooseLanguage(LanguageProgram::UpgradeTool)) &&
                        localeIsGerman(LocaleEnvironment::current());
    const QtTranslations qtTexts(german);
    texts.setApplicationTitle(nodeText(texts, "Text"));
    InstanceLock own;
    if (!singleInstanceCheck(texts, messages, own))
        return EXIT_FAILURE;

    app::Session session(messages, texts, link::LinkMode::UpgradeTool, "zrq406-upgrade");
    app::UpgradeToolState state;
    std::string modelName = nodeText(texts, "ModelName");
    if (modelName.empty())
        modelName = "TALVERN ZRQ406";
    state.images = app::UpgradeImageTable::build(app::firmwareImageFiles(), modelName);
    UpgradeToolContext context(session, state);

    CZRQ406UPGRADEDlg frame(context);
    messages.setOwner(&frame);
    CWelcome welcome(frame, context, options.link);
    CDUTlist list(frame, context);
    CDeviceInfo question(frame, context);
    CUpgrading upgrading(frame, context);
    CFinish finish(frame, context);
    for (CNewWizPage* page : std::initializer_list<CNewWizPage*>{&welcome, &list, &question, &upgrading, &finish})
        frame.addPage(page);
    frame.initialise();
    frame.exec();
    frame.ReleasePages();
    messages.setOwner(nullptr);
    return EXIT_SUCCESS;
}

} // namespace zrq406

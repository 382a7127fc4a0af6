#include "utility/utility_app.h"

#include "app/instance_names.h"
#include "app/upgrade_offer.h"
#include "gui/file_dialogs.h"
#include "gui/picture_box.h"
#include "gui/qt_message_service.h"
#include "gui/qt_translations.h"
#include "gui/unattended_message_service.h"
#include "platform/instance_lock.h"
#include "uitext/language_choice.h"
#include "uitext/language_texts.h"
#include "uitext/load_ui_setting.h"
#include "utility/main_dialog.h"
#include "utility/network_page.h"
#include "utility/utility_context.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

namespace zrq406::utility {

namespace {
constexpr char kUsage[] = "Usage: zrq406-config [--simulate[=FILE]] [Qt options]\n"
                          "Manages the TALVERN ZRQ406 powerline adapters of this computer's network.\n"
                          "  --simulate        work on the built-in simulated powerline network\n"
                          "  --simulate=FILE   work on the simulated network described in FILE\n"
                          "ZRQ406_SIMULATE=1 or ZRQ406_SIMULATE=FILE does the same.\n";
} // namespace

std::optional<UtilityOptions> parseUtilityArguments(const QStringList& arguments, std::string& error) {
    UtilityOptions options;
    if (const char* env = std::getenv("ZRQ406_SIMULATE"); env != nullptr && *env != '\0')
        options.link.simulate = std::string(env) == "1" ? std::string() : std::string(env);
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--simulate")) {
            options.link.simulate = std::string();
        } else if (argument.startsWith(QLatin1String("--simulate="))) {
            options.link.simulate = argument.mid(11).toStdString();
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            options.help = true;
        } else {
            error = "unknown option " + argument.toStdString();
            return std::nullopt;
        }
    }
    return options;
}

bool CHomePlugDeviceManagerApp::checkInstances(CLoadUISetting& texts, MessageService& messages, InstanceLock& own) {
    const std::string title = texts.LoadPageCaption("ZRQ406", "Utility", "Text");
    auto refuse = [&](const char* key) {
        messages.show(Message{texts.LoadPageCaption("ZRQ406", "Messages", key, "Text"), title, MessageIcon::Warning});
        return false;
    };
    if (InstanceLock::exists(app::kUpgradeToolInstance))
        return refuse("Childmsg01");
    if (!own.acquire(app::kUtilityInstance))
        return refuse("msg01");
    return true;
}

int CHomePlugDeviceManagerApp::run(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zrq406-config"));
    QApplication::setDesktopFileName(QStringLiteral("zrq406-config"));
    QApplication::setWindowIcon(PictureBox::applicationIcon());
    std::string error;
    const auto options = parseUtilityArguments(QApplication::arguments(), error);
    if (!options) {
        std::fprintf(stderr, "zrq406-config: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    if (options->help) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    // Start-up measurements of an installed copy run unattended and end once the device list is first filled.
    const char* once = std::getenv("ZRQ406_QUIT_WHEN_LISTED");
    const bool quitWhenListed = once != nullptr && *once == '1';
    QtMessageService windowMessages;
    UnattendedMessageService unattendedMessages;
    MessageService& messages = quitWhenListed ? static_cast<MessageService&>(unattendedMessages)
                                              : static_cast<MessageService&>(windowMessages);
    CLoadUISetting texts(messages, UiTextMode::Utility, "zrq406-config");
    // Without its language file the utility runs on in the English texts built into it, and Qt's texts follow.
    const bool german =
        loadLanguageTexts(texts, messages, LanguageProgram::Utility, chooseLanguage(LanguageProgram::Utility)) &&
        localeIsGerman(LocaleEnvironment::current());
    const QtTranslations qtTexts(german);
    texts.setApplicationTitle(texts.LoadPageCaption("ZRQ406", "Utility", "Text"));

    InstanceLock own;
    if (!checkInstances(texts, messages, own))
        return 0;

    QtFileDialogs files;
    UtilityContext context(messages, texts, files, german);
    context.linkOptions = options->link;
    context.imageFiles = app::firmwareImageFiles();
    CHomePlugDeviceManagerDlg dialog(context);
    windowMessages.setOwner(&dialog);
    if (quitWhenListed) {
        QObject::connect(dialog.networkPage(), &CNetworkPage::devicesShown, &dialog, [&dialog](int count) {
            std::printf("zrq406-config: %d devices listed\n", count);
            std::fflush(stdout);
            QTimer::singleShot(0, &dialog, [&dialog] { dialog.done(0); });
        });
    }
    if (dialog.start())
        dialog.exec();
    windowMessages.setOwner(nullptr);
    // The running-instance lock goes first, then the one held for the upgrade tool, which starts meanwhile.
    own.release();
    context.bothRun.release();
    return 0;
}

} // namespace zrq406::utility

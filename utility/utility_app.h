#pragma once

#include "app/session.h"

#include <QStringList>
#include <optional>
#include <string>

namespace zrq406 {
class CLoadUISetting;
class InstanceLock;
class MessageService;
} // namespace zrq406

namespace zrq406::utility {

// What the command line asks of the utility beyond Qt's own options.
struct UtilityOptions {
    app::LinkOptions link;
    bool help = false;
};
// Reads --simulate[=FILE] (or ZRQ406_SIMULATE) and --help from the arguments that Qt left; nothing, with `error`
// set, for anything else.
std::optional<UtilityOptions> parseUtilityArguments(const QStringList& arguments, std::string& error);

// The configuration utility's application: picks and loads the language file, refuses to run beside the upgrade
// tool or a second copy of itself, runs the main window, and releases its locks however it ends.
class CHomePlugDeviceManagerApp {
public:
    int run(int argc, char** argv);

    // The instance check: fails with Childmsg01 while the upgrade tool runs, with msg01 while another copy runs;
    // otherwise `own` holds this copy's lock, whose name is the same in every language.
    static bool checkInstances(CLoadUISetting& texts, MessageService& messages, InstanceLock& own);
};

} // namespace zrq406::utility

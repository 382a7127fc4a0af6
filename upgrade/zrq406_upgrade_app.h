#pragma once

#include "app/session.h"

#include <QStringList>
#include <optional>
#include <string>

namespace zrq406 {

class CLoadUISetting;
class InstanceLock;
class MessageService;

// What the upgrade tool was started with.
struct UpgradeToolOptions {
    app::LinkOptions link;
};

// Reads the arguments left after Qt took its own: --simulate, --simulate=FILE. ZRQ406_SIMULATE ("1" for
// the built-in network, else a file) stands for --simulate when it is not given. Nothing, with `error` set, for
// anything else.
std::optional<UpgradeToolOptions> parseUpgradeToolArguments(const QStringList& arguments, std::string& error);
// The usage text of --help.
std::string upgradeToolUsage();

// The upgrade tool's start: language, single instance, then the wizard until it closes.
class CZRQ406UPGRADEApp {
public:
    // Returns the program's exit status.
    int run(const UpgradeToolOptions& options);

    // The single-instance rules: unless the configuration utility started this tool ("BothRun"), a running
    // utility refuses it (Parentmsg01); a running tool refuses it too (msg01), in whatever language either runs.
    // On success `own` holds the tool's running-instance lock.
    static bool singleInstanceCheck(CLoadUISetting& texts, MessageService& messages, InstanceLock& own);
};

} // namespace zrq406

#include "upgrade/zrq406_upgrade_app.h"

#include <QApplication>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    // Help needs no display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(zrq406::upgradeToolUsage().c_str(), stdout);
            return 0;
        }
    }
    QApplication application(argc, argv);
    std::string error;
    const auto options = zrq406::parseUpgradeToolArguments(QApplication::arguments(), error);
    if (!options) {
        std::fprintf(stderr, "zrq406-upgrade: %s\n%s", error.c_str(), zrq406::upgradeToolUsage().c_str());
        return 2;
    }
    return zrq406::CZRQ406UPGRADEApp().run(*options);
}

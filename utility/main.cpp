#include "utility/utility_app.h"

int main(int argc, char** argv) {
    return zrq406::utility::CHomePlugDeviceManagerApp().run(argc, argv);
}

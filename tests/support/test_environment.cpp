// Linked into every test program: the environment the tests run in, unless the caller set it already.
#include <cstdlib>

namespace {

struct TestEnvironment {
    TestEnvironment() {
        // Device and protocol waits shrink to a fiftieth; answers still end an exchange at once.
        setenv("ZRQ406_TIME_SCALE", "0.02", 0);
        setenv("ZRQ406_TEST_SOURCE_DIR", ZRQ406_TEST_SOURCE_DIR, 0);
        // Language files are found in the build's program folder.
        setenv("ZRQ406_DATA_DIR", ZRQ406_TEST_DATA_DIR, 0);
        // No test writes the user's link history; the tests of the history name their own file.
        setenv("ZRQ406_LINK_HISTORY", "none", 0);
        // Programs started by tests running side by side mark no shared folder where the others would see them.
        setenv("ZRQ406_SHARED_RUN_DIR", "/nonexistent/zrq406-tests", 0);
        // Widgets are tested without a display.
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
};

const TestEnvironment environment;

} // namespace

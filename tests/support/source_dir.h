#pragma once

#include <cstdlib>
#include <filesystem>

namespace zrq406::test {

// The source tree's root, for tests that read shipped files (the language files): ZRQ406_TEST_SOURCE_DIR when the
// test runner sets it, else the tree this test was built from.
inline std::filesystem::path sourceDirectory() {
    if (const char* fromEnvironment = std::getenv("ZRQ406_TEST_SOURCE_DIR");
        fromEnvironment != nullptr && *fromEnvironment != '\0')
        return fromEnvironment;
    return ZRQ406_SOURCE_DIR;
}

} // namespace zrq406::test

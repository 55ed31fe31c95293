#pragma once
// For tests that need root or a kernel feature: without it they skip and say why, except under
// CI (CI=true), which runs as root on a kernel that has everything, so there a missing
// requirement fails the test instead of hiding it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

namespace tarvex::testing {

inline bool SkipsAreFailures() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string_view(ci) == "true";
}

}  // namespace tarvex::testing

// Ends the test unless `condition` holds: a skip, or a failure under CI.
#define TARVEX_REQUIRE_OR_SKIP(condition, why)           \
    do {                                                 \
        if (!(condition)) {                              \
            if (::tarvex::testing::SkipsAreFailures()) { \
                GTEST_FAIL() << why;                     \
            }                                            \
            GTEST_SKIP() << why;                         \
        }                                                \
    } while (false)

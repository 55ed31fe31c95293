// The one source of tarvex_test_headers: every build precompiles GoogleTest's and
// GoogleMock's headers with it, and every test reuses the result.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

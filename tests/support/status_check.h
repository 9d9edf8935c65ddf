#pragma once
// A Status as a test condition: a failure prints its message.
#include <gtest/gtest.h>

#include "common/status.h"

namespace halvard {

inline ::testing::AssertionResult succeeded(const Status& status) {
    if (status) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << status.message();
}

}  // namespace halvard

// What the entry-rule tests share.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "protocol/Record.h"

namespace valdrune {

inline std::uint32_t Ip(const char* text) {
    std::uint32_t v = 0;
    EXPECT_TRUE(ParseIpv4(text, v)) << text;
    return v;
}

}  // namespace valdrune

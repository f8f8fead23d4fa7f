// The protocol tests build their answers with the shared builder, from device
// 02-00-00-00-00-02 with capability 0 unless a test says otherwise.
#pragma once

#include "tests/support/AnswerBuilder.h"

namespace valdrune::test {

inline AnswerBuilder Answer() {
    AnswerBuilder b(14, MacAddress{0x02, 0x00, 0x00, 0x00, 0x00, 0x02});
    b.Capability(0);
    return b;
}

}  // namespace valdrune::test

// valdrune-cli as shipped, with the protocol sped up by VALDRUNE_TIME_SCALE for end-to-end runs.
#include "cli/CliMain.h"
#include "tests/support/TimeScale.h"

int main(int argc, char** argv) {
    return valdrune::cli::CliMain(argc, argv, valdrune::test::TimeScaleFromEnvironment(),
                                  VALDRUNE_NETPROBE_BINARY);
}

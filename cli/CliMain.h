// The whole command-line tool behind main(): arguments, the command, its exit code.
#pragma once

#include <string>

namespace valdrune::cli {

// timeScale divides every protocol interval; the shipped program passes 1. probeHelper: the
// probe helper to start, empty for the one installed beside the tool.
int CliMain(int argc, char** argv, int timeScale, const std::string& probeHelper = {});

}  // namespace valdrune::cli

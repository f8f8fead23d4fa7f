// valdrune-cli: the core of the window on the command line, for scripts, SSH and CI.
#include "cli/CliMain.h"

int main(int argc, char** argv) { return valdrune::cli::CliMain(argc, argv, 1); }

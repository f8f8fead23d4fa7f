// Everything the window and the command-line tool need from the host, built in one place.
#pragma once

#include <memory>
#include <string>

// The host's own PlatformServices and DefaultNetProbePath, from platform/linux/ or
// platform/windows/: CMake puts the target's folder on the include path.
#include "PlatformServices.h"

namespace valdrune {

// Needs a QCoreApplication (or QApplication) before the first timer or socket is used.
// The shipped programs run in real time; only test drivers pass a scale above 1.
std::unique_ptr<PlatformServices> CreatePlatformServices(
    int timeScale = 1, const std::string& helper = DefaultNetProbePath());

// Standard output and error as the tools expect them: UTF-8, "\n" line ends.
void PrepareStandardStreams();

// True when standard error is a terminal that can show a line redrawn in place ("\r" and
// ESC [ K). On a Windows console this switches those sequences on for standard error.
bool ErrorStreamIsTerminal();

}  // namespace valdrune

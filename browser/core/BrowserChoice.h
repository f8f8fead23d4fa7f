// Which browsers exist, which one is the default, what the browser combo offers and how each
// browser is started.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "browser/core/BrowserSeams.h"

namespace valdrune {

enum BrowserCode : int {
    BROWSER_AUTO = 0,
    BROWSER_EDGE_IE_MODE = 1,
    BROWSER_EDGE = 2,
    BROWSER_CHROME = 3,
    BROWSER_FIREFOX = 4,
    BROWSER_IE = 5,  // as a default-browser code: any other browser
};

struct BrowserAvailability {
    bool edgeInstalled = false;
    bool edgeLegacy = true;
    bool chromeInstalled = false;
    bool firefoxInstalled = false;
    bool ieInstalled = false;
    // The executable found for each browser, or empty.
    std::string edgePath;
    std::string chromePath;
    std::string firefoxPath;
    std::string iePath;
};

// The first candidate that exists, or empty.
std::string FirstExisting(const std::vector<std::string>& candidates,
                          const IBrowserEnvironment& env);

// Edge counts as legacy unless its version text reads as 70 or more. A text that does not fit
// the 50-byte read buffer is a failed read.
bool EdgeIsLegacy(bool edgeInstalled, const EdgeVersionValue& version);

BrowserAvailability DetectBrowsers(const IBrowserEnvironment& env);

// Default-browser code 2 to 5 from a ProgId text (case-sensitive, first test that holds).
int DefaultBrowserCode(std::string_view progId);

// Codes of the browser combo's entries, in entry order.
std::vector<int> BrowserComboCodes(const BrowserAvailability& available);
// String id of a combo entry's text.
int BrowserComboTextId(int code);
// The entry index whose code is `code`, or 0.
int BrowserComboIndex(const std::vector<int>& codes, int code);

enum class LaunchForm { Edge, Chrome, Firefox, InternetExplorer, SystemDefault };

struct LaunchCommand {
    bool systemDefault = false;  // hand `url` to the desktop instead of running a program
    std::string executable;      // empty: nothing can be started
    std::vector<std::string> args;
    std::string url;
};

// How a form is started. An Edge form without a URL starts Edge without a page.
LaunchCommand CommandFor(LaunchForm form, const std::string& url,
                         const BrowserAvailability& available, const BrowserCandidates& candidates);

}  // namespace valdrune

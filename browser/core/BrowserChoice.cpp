#include "browser/core/BrowserChoice.h"

#include <algorithm>

#include "browser/core/ModelLists.h"

namespace valdrune {

namespace {

constexpr std::size_t VERSION_BUFFER_BYTES = 50;

std::string ExecutableOrFallback(const std::string& found,
                                 const std::vector<std::string>& candidates) {
    // A browser that was not found is still tried under its preferred path; the failed start
    // is silent, as any failed start is.
    if (!found.empty()) return found;
    return candidates.empty() ? std::string() : candidates.front();
}

}  // namespace

std::string FirstExisting(const std::vector<std::string>& candidates,
                          const IBrowserEnvironment& env) {
    for (const std::string& path : candidates) {
        if (env.FileExists(path)) return path;
    }
    return {};
}

bool EdgeIsLegacy(bool edgeInstalled, const EdgeVersionValue& version) {
    if (!edgeInstalled || !version.sourceOpened) return true;
    double number = 0.0;
    // The read includes a terminating zero, so 49 bytes of text is the most that fits.
    if (version.valueRead && version.text.size() < VERSION_BUFFER_BYTES) {
        std::string_view text = version.text;
        text = text.substr(0, text.find('\0'));
        number = LeadingNumber(text);
    }
    return number < 70.0;
}

BrowserAvailability DetectBrowsers(const IBrowserEnvironment& env) {
    const BrowserCandidates candidates = env.CandidatePaths();
    BrowserAvailability a;
    a.edgePath = FirstExisting(candidates.edge, env);
    a.edgeInstalled = !a.edgePath.empty();
    a.edgeLegacy = a.edgeInstalled ? EdgeIsLegacy(true, env.ReadEdgeVersion()) : true;
    a.chromePath = FirstExisting(candidates.chrome, env);
    a.chromeInstalled = !a.chromePath.empty();
    a.firefoxPath = FirstExisting(candidates.firefox, env);
    a.firefoxInstalled = !a.firefoxPath.empty();
    a.iePath = FirstExisting(candidates.ie, env);
    a.ieInstalled = !a.iePath.empty();
    return a;
}

int DefaultBrowserCode(std::string_view progId) {
    if (progId.find("MSEdgeHTM") != std::string_view::npos) return BROWSER_EDGE;
    if (progId.find("ChromeHTML") != std::string_view::npos) return BROWSER_CHROME;
    if (progId.find("FirefoxHTML") != std::string_view::npos) return BROWSER_FIREFOX;
    if (progId.find("AppX") != std::string_view::npos) return BROWSER_EDGE;
    return BROWSER_IE;
}

std::vector<int> BrowserComboCodes(const BrowserAvailability& available) {
    std::vector<int> codes{BROWSER_AUTO};
    if (available.edgeInstalled && !available.edgeLegacy) {
        codes.push_back(BROWSER_EDGE_IE_MODE);
        codes.push_back(BROWSER_EDGE);
    }
    if (available.chromeInstalled) codes.push_back(BROWSER_CHROME);
    if (available.firefoxInstalled) codes.push_back(BROWSER_FIREFOX);
    if (available.ieInstalled) codes.push_back(BROWSER_IE);
    return codes;
}

int BrowserComboTextId(int code) {
    switch (code) {
        case BROWSER_EDGE_IE_MODE:
            return 232;
        case BROWSER_EDGE:
            return 233;
        case BROWSER_CHROME:
            return 234;
        case BROWSER_FIREFOX:
            return 235;
        case BROWSER_IE:
            return 236;
        default:
            return 231;
    }
}

int BrowserComboIndex(const std::vector<int>& codes, int code) {
    const auto it = std::find(codes.begin(), codes.end(), code);
    return it == codes.end() ? 0 : static_cast<int>(it - codes.begin());
}

LaunchCommand CommandFor(LaunchForm form, const std::string& url,
                         const BrowserAvailability& available,
                         const BrowserCandidates& candidates) {
    LaunchCommand command;
    command.url = url;
    switch (form) {
        case LaunchForm::SystemDefault:
            command.systemDefault = true;
            return command;
        case LaunchForm::Edge:
            command.executable = ExecutableOrFallback(available.edgePath, candidates.edge);
            if (!url.empty()) command.args = {url};
            return command;
        case LaunchForm::Chrome:
            command.executable = ExecutableOrFallback(available.chromePath, candidates.chrome);
            command.args = {url};
            return command;
        case LaunchForm::Firefox:
            command.executable = ExecutableOrFallback(available.firefoxPath, candidates.firefox);
            command.args = {url};
            return command;
        case LaunchForm::InternetExplorer:
            command.executable = ExecutableOrFallback(available.iePath, candidates.ie);
            command.args = {"-new", url};
            return command;
    }
    return command;
}

}  // namespace valdrune

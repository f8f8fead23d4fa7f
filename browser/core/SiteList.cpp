#include "browser/core/SiteList.h"

#include <algorithm>
#include <cstdio>
#include <regex>

namespace valdrune {

namespace {

// Longer lines are not a site list of ours; skipping them keeps the backtracking matcher's
// recursion bounded on hostile input.
constexpr std::size_t MAX_SCANNED_LINE = 8192;

}  // namespace

std::string DeviceUrl(const _CommandDataTable& record) {
    return std::string(record.https != 0 ? "https://" : "http://") +
           Ipv4Text(record.primary.ipAddress) + ":" + std::to_string(record.primary.port);
}

std::string SiteUrl(const _CommandDataTable& record) {
    const bool https = record.https != 0;
    const std::uint16_t defaultPort = https ? 443 : 80;
    std::string url =
        std::string(https ? "https://" : "http://") + Ipv4Text(record.primary.ipAddress);
    if (record.primary.port != defaultPort) url += ":" + std::to_string(record.primary.port);
    url += "/";
    return url;
}

std::string SiteListDateText(const LocalDateTime& when) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d %02d:%02d:%02d", when.month, when.day,
                  when.year, when.hour, when.minute, when.second);
    return buffer;
}

std::string ReplaceAll(std::string text, std::string_view marker, std::string_view value) {
    if (marker.empty()) return text;
    std::size_t pos = 0;
    while ((pos = text.find(marker, pos)) != std::string::npos) {
        text.replace(pos, marker.size(), value);
        pos += value.size();
    }
    return text;
}

std::string BuildSiteListText(const SiteListTemplates& templates, const std::string& dateText,
                              const std::vector<std::string>& siteUrls,
                              const std::vector<std::string>& ie5Urls) {
    std::string sites;
    for (const std::string& url : siteUrls) {
        const bool ie5 = std::find(ie5Urls.begin(), ie5Urls.end(), url) != ie5Urls.end();
        sites += ReplaceAll(ie5 ? templates.ie5Entry : templates.entry, "#URL#", url);
    }
    return ReplaceAll(ReplaceAll(templates.list, "#DATE#", dateText), "#SITE#", sites);
}

std::vector<std::string> ExtractSiteUrls(std::string_view fileText) {
    static const std::regex url("(http[s]*:\\/\\/.+\\/)", std::regex::ECMAScript);
    std::vector<std::string> urls;
    // The pattern cannot cross a line end, so searching line by line finds the same matches.
    std::size_t start = 0;
    while (start <= fileText.size()) {
        std::size_t end = fileText.find('\n', start);
        if (end == std::string_view::npos) end = fileText.size();
        std::string_view line = fileText.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.size() <= MAX_SCANNED_LINE) {
            const std::string text(line);
            for (std::sregex_iterator it(text.begin(), text.end(), url), last; it != last; ++it) {
                urls.push_back(it->str());
            }
        }
        start = end + 1;
    }
    return urls;
}

std::string ZoneHostText(const std::string& siteUrl) {
    static const std::regex scheme("http[s]*?:\\/\\/", std::regex::ECMAScript);
    static const std::regex port("[:][0-9]+", std::regex::ECMAScript);
    std::string host = std::regex_replace(siteUrl, scheme, "");
    host = std::regex_replace(host, port, "");
    host.erase(std::remove(host.begin(), host.end(), '/'), host.end());
    return host;
}

bool IsEdgeWindowTitle(std::string_view title) {
    const std::size_t microsoft = title.find("Microsoft");
    return microsoft != std::string_view::npos &&
           title.find("Edge", microsoft) != std::string_view::npos;
}

}  // namespace valdrune

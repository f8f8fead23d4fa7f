// URL forms, the IE-mode site-list text and its read-back, and the zone host text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "browser/core/BrowserSeams.h"
#include "protocol/Record.h"

namespace valdrune {

inline constexpr int SITE_LIST_TEMPLATE_ID = 140;
inline constexpr int SITE_ENTRY_TEMPLATE_ID = 141;
inline constexpr int SITE_ENTRY_IE5_TEMPLATE_ID = 142;
inline constexpr const char* SITE_LIST_FILE_NAME = "Quembrel_sitelist.xml";

// "http://a.b.c.d:port" or "https://...": the port is always written, no trailing slash.
std::string DeviceUrl(const _CommandDataTable& record);
// The bookkeeping form: the default port of the scheme is left out, a slash ends it.
std::string SiteUrl(const _CommandDataTable& record);

// "%m/%d/%Y %H:%M:%S".
std::string SiteListDateText(const LocalDateTime& when);

// Every occurrence of marker in text replaced by value.
std::string ReplaceAll(std::string text, std::string_view marker, std::string_view value);

struct SiteListTemplates {
    std::string list;      // template 140
    std::string entry;     // template 141
    std::string ie5Entry;  // template 142
};

// The whole file: the list template with its date, one entry per URL in order (the IE5 entry
// for URLs in ie5Urls).
std::string BuildSiteListText(const SiteListTemplates& templates, const std::string& dateText,
                              const std::vector<std::string>& siteUrls,
                              const std::vector<std::string>& ie5Urls);

// The URLs an existing site-list file lists: each match runs from "http" to the last slash on
// its line. Line ends may be LF or CR LF.
std::vector<std::string> ExtractSiteUrls(std::string_view fileText);

// A site URL without scheme, port and slashes: the bare address for a zone range.
std::string ZoneHostText(const std::string& siteUrl);

// "Microsoft" somewhere, and "Edge" at or after the first "Microsoft".
bool IsEdgeWindowTitle(std::string_view title);

}  // namespace valdrune

#include "cli/Plan.h"

#include <algorithm>
#include <map>
#include <set>

#include "cli/ExitCodes.h"

namespace valdrune::cli {

std::vector<std::string> SplitCsv(std::string_view line) {
    std::vector<std::string> cells;
    std::string cell;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                cell += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                cell += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            cells.push_back(std::move(cell));
            cell.clear();
        } else {
            cell += c;
        }
    }
    cells.push_back(std::move(cell));
    for (auto& s : cells) {
        const auto first = s.find_first_not_of(" \t");
        const auto last = s.find_last_not_of(" \t\r");
        s = first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
    }
    return cells;
}

namespace {

const std::set<std::string>& Columns() {
    static const std::set<std::string> names = {"mac",  "mode", "ip",   "mask",  "gateway", "dns",
                                                "dns1", "dns2", "port", "pc-ip", "pc-mask"};
    return names;
}

}  // namespace

Plan ParsePlan(std::string_view text) {
    Plan plan;
    // Spreadsheets save UTF-8 CSV with a byte-order mark, which would hide the first column.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::vector<std::string> header;
    int lineNo = 0;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        const auto first = line.find_first_not_of(" \t\r");
        if (first == std::string_view::npos || line[first] == '#') {
            if (end == text.size()) break;
            continue;
        }
        std::vector<std::string> cells = SplitCsv(line);
        if (header.empty()) {
            for (auto& h : cells) {
                std::transform(h.begin(), h.end(), h.begin(),
                               [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
                std::replace(h.begin(), h.end(), '_', '-');
                if (!Columns().count(h)) {
                    plan.problems.push_back(
                        {lineNo, "", "unknown column \"" + h + "\"", EXIT_REFUSED});
                }
            }
            if (std::find(cells.begin(), cells.end(), "mac") == cells.end()) {
                plan.problems.push_back(
                    {lineNo, "", "the header has no \"mac\" column", EXIT_REFUSED});
            }
            header = std::move(cells);
            if (end == text.size()) break;
            continue;
        }
        if (cells.size() > header.size()) {
            plan.problems.push_back({lineNo, "", "more cells than columns", EXIT_REFUSED});
            continue;
        }
        PlanRow row;
        row.line = lineNo;
        bool ok = true;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            // An empty port cell keeps the device's port.
            if (header[i] == "port" && cells[i].empty()) continue;
            std::string error;
            if (!SetField(row.request, header[i], cells[i], error)) {
                plan.problems.push_back({lineNo, row.request.macText, error, EXIT_REFUSED});
                ok = false;
            }
        }
        if (ok && row.request.macText.empty()) {
            plan.problems.push_back({lineNo, "", "the row has no MAC address", EXIT_REFUSED});
            ok = false;
        }
        if (ok) plan.rows.push_back(std::move(row));
        if (end == text.size()) break;
    }
    if (header.empty()) plan.problems.push_back({0, "", "the plan is empty", EXIT_REFUSED});
    return plan;
}

std::vector<PlanProblem> CheckPlanConflicts(const std::vector<PlanRow>& rows,
                                            const std::vector<PreparedSettings>& prepared,
                                            const std::vector<_CommandDataTable>& others) {
    std::vector<PlanProblem> problems;
    std::map<std::string, int> lineByMac;
    std::map<std::uint32_t, std::size_t> rowByAddress;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const PlanRow& row = rows[i];
        const std::string& mac = row.request.macText;
        if (auto [it, fresh] = lineByMac.emplace(mac, row.line); !fresh) {
            problems.push_back(
                {row.line, mac,
                 "the device is already planned on line " + std::to_string(it->second),
                 EXIT_REFUSED});
            continue;
        }
        if (i >= prepared.size() || !prepared[i].ok) continue;
        const auto introduced = IntroducedAddresses(prepared[i].before, prepared[i].after);
        for (std::uint32_t a : TargetAddresses(prepared[i].after)) {
            // PC ports are separate segments: only a PC-port address the plan sets counts.
            const bool lan = a == prepared[i].after.primary.ipAddress;
            if (!lan && std::find(introduced.begin(), introduced.end(), a) == introduced.end()) {
                continue;
            }
            if (auto [it, fresh] = rowByAddress.emplace(a, i); !fresh) {
                problems.push_back({row.line, mac,
                                    Ipv4Text(a) + " is also planned for " +
                                        rows[it->second].request.macText + " on line " +
                                        std::to_string(rows[it->second].line),
                                    EXIT_CONFLICT});
            }
        }
        for (std::uint32_t a : introduced) {
            for (const auto& other : others) {
                if (other.primary.mac == row.request.mac) continue;
                if (other.primary.ipAddress == a || other.primary.ipAddress2 == a) {
                    problems.push_back(
                        {row.line, mac,
                         Ipv4Text(a) + " is already used by " + MacText(other.primary.mac),
                         EXIT_CONFLICT});
                }
            }
        }
    }
    return problems;
}

std::vector<PlanProblem> CheckPlanAddresses(const std::vector<PlanRow>& rows,
                                            const std::vector<PreparedSettings>& prepared,
                                            const _NetInfo& pc) {
    std::map<std::uint32_t, std::string> gateways;  // address -> whose gateway it is
    if (pc.gateway != 0) gateways.emplace(pc.gateway, "this PC's gateway");
    for (std::size_t i = 0; i < rows.size() && i < prepared.size(); ++i) {
        const std::uint32_t g = prepared[i].ok ? prepared[i].after.primary.gateway : 0;
        if (g != 0)
            gateways.emplace(g, "the gateway planned on line " + std::to_string(rows[i].line));
    }
    std::vector<PlanProblem> problems;
    for (std::size_t i = 0; i < rows.size() && i < prepared.size(); ++i) {
        if (!prepared[i].ok) continue;
        const _CommandDataTable& after = prepared[i].after;
        const auto targets = TargetAddresses(after);
        // Only a LAN address the change fixes; the device picks any other itself.
        if (targets.empty() || targets.front() != after.primary.ipAddress) continue;
        const std::uint32_t a = after.primary.ipAddress;
        const std::uint32_t mask = after.primary.subnetMask;
        const PlanRow& row = rows[i];
        auto refuse = [&](std::string why, int code) {
            problems.push_back({row.line, row.request.macText, Ipv4Text(a) + " " + why, code});
        };
        if (pc.ipAddress != 0 && a == pc.ipAddress) {
            refuse("is this PC's own address", EXIT_CONFLICT);
        } else if (auto g = gateways.find(a); g != gateways.end()) {
            refuse("is " + g->second, EXIT_CONFLICT);
        } else if (pc.ipAddress != 0 && mask != 0 && (a & mask) != (pc.ipAddress & mask)) {
            refuse("is outside this PC's subnet " + Ipv4Text(pc.ipAddress & mask) + "/" +
                       Ipv4Text(mask) + ": the device could not be reached afterwards",
                   EXIT_REFUSED);
        }
    }
    return problems;
}

}  // namespace valdrune::cli

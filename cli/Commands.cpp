#include "cli/Commands.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "cli/ExitCodes.h"
#include "cli/Texts.h"
#include "protocol/Datagram.h"

namespace valdrune::cli {

// ---- interfaces -----------------------------------------------------------------------------

int RunInterfaces(Session& s, const std::string& adapter, Format format) {
    CProtocol& e = s.Engine();
    e.EnumerateInterfaces(MacAddress{});
    const auto& table = e.Interfaces();
    const int selected = MatchInterface(table, adapter);
    if (format == Format::Json) {
        Json all = Json::array();
        for (std::size_t i = 0; i < table.size(); ++i) {
            all.push_back(Json{{"position", i},
                               {"ipv4", Ipv4Text(table[i].ipAddress)},
                               {"mac", MacText(table[i].mac)},
                               {"gateway", Ipv4Text(table[i].gateway)},
                               {"index", table[i].ifIndex},
                               {"description", table[i].description},
                               {"selected", static_cast<int>(i) == selected}});
        }
        s.Out() << Dump(all) << '\n';
    } else if (format == Format::Csv) {
        s.Out() << CsvLine(
                       {"position", "ipv4", "mac", "gateway", "index", "description", "selected"})
                << '\n';
        for (std::size_t i = 0; i < table.size(); ++i) {
            s.Out() << CsvLine({std::to_string(i), Ipv4Text(table[i].ipAddress),
                                MacText(table[i].mac), Ipv4Text(table[i].gateway),
                                std::to_string(table[i].ifIndex), table[i].description,
                                static_cast<int>(i) == selected ? "1" : "0"})
                    << '\n';
        }
    } else {
        for (std::size_t i = 0; i < table.size(); ++i) {
            char line[64];
            std::snprintf(line, sizeof line, "%c %2zu  %-15s  %s  ",
                          static_cast<int>(i) == selected ? '*' : ' ', i,
                          Ipv4Text(table[i].ipAddress).c_str(), MacText(table[i].mac).c_str());
            s.Out() << line << Printable(table[i].description) << '\n';
        }
    }
    if (table.empty()) {
        s.Err() << "No network adapter with an IPv4 address was found.\n";
        return EXIT_NOT_FOUND;
    }
    if (selected < 0) {
        s.Err() << "No adapter matches \"" << adapter << "\".\n";
        return EXIT_NOT_FOUND;
    }
    return EXIT_OK;
}

// ---- search ---------------------------------------------------------------------------------

namespace {

struct WatchState {
    std::map<std::string, std::string> printed;  // MAC text -> last JSON printed
    bool headerDone = false;
};

void WatchCycle(Session& s, std::shared_ptr<WatchState> st, Format format);

void PrintChange(Session& s, WatchState& st, Format format, const DeviceView& v) {
    const std::string mac = MacText(v.record.primary.mac);
    Json compared = DeviceJson(v);
    compared.erase("sequence");  // counts answers, not a change of the device
    const std::string now = Dump(compared, -1);
    auto it = st.printed.find(mac);
    if (it != st.printed.end() && it->second == now) return;
    const char* event = it == st.printed.end() ? "new" : "changed";
    st.printed[mac] = now;
    switch (format) {
        case Format::Json:
            s.Out() << Dump(Json{{"event", event}, {"device", DeviceJson(v)}}, -1) << '\n';
            break;
        case Format::Csv: {
            if (!st.headerDone) {
                auto header = DeviceCsvHeader();
                header.insert(header.begin(), "event");
                s.Out() << CsvLine(header) << '\n';
                st.headerDone = true;
            }
            auto cells = DeviceCsvCells(v);
            cells.insert(cells.begin(), event);
            s.Out() << CsvLine(cells) << '\n';
            break;
        }
        case Format::Text: {
            char line[96];
            std::snprintf(line, sizeof line, "%-7s %s  %-15s %5u  ", event, mac.c_str(),
                          Ipv4Text(v.record.primary.ipAddress).c_str(), v.record.primary.port);
            s.Out() << line << Printable(FieldText(v.record.deviceName)) << "  "
                    << Printable(FieldText(v.record.model)) << '\n';
            break;
        }
    }
    s.Out().flush();
}

void WatchCycle(Session& s, std::shared_ptr<WatchState> st, Format format) {
    s.Search(nullptr, [&s, st, format](bool) { WatchCycle(s, st, format); });
}

}  // namespace

void RunSearch(Session& s, const SearchOptions& o, Done done) {
    if (int rc = s.OpenInterface(o.interface); rc != EXIT_OK) {
        done(rc);
        return;
    }
    s.Engine().ClearDevices();
    if (o.watch) {
        auto st = std::make_shared<WatchState>();
        const Format format = o.format;
        s.onDevice = [&s, st, format](const _CommandDataTable& r) {
            // Overlaps may change for other rows too; print every device that changed.
            for (const auto& v : s.Devices()) {
                if (v.record.primary.mac == r.primary.mac || !v.overlaps.empty() ||
                    st->printed.count(MacText(v.record.primary.mac))) {
                    PrintChange(s, *st, format, v);
                }
            }
        };
        WatchCycle(s, st, format);
        return;
    }
    const Format format = o.format;
    s.Search(nullptr, [&s, format, done](bool) {
        WriteDevices(s.Out(), s.Devices(), format);
        s.Out().flush();
        done(EXIT_OK);
    });
}

// ---- set ------------------------------------------------------------------------------------

namespace {

Json Settings(const _CommandDataTable& r);

std::string DatagramHex(Session& s, const PreparedSettings& p) {
    const _NetInfo& local = s.Engine().LocalInterface();
    const auto bytes =
        BuildSettingsRequest(p.after, p.command, p.mask, Requester{local.mac, local.ipAddress});
    return Hex(bytes.data(), bytes.size());
}

// What one set ends with; printed as JSON on standard output with --json.
struct SetResult {
    int exitCode = EXIT_OK;
    int messageId = 0;
    std::string message;
    std::optional<_CommandDataTable> before, after;
    std::string datagram;
};

void Conclude(Session& s, const SetOptions& o, const SetResult& r, const Done& done) {
    if (!r.message.empty()) s.Err() << r.message << '\n';
    if (o.format == Format::Json) {
        Json j{{"mac", o.request.macText}, {"dry_run", o.dryRun}, {"exit_code", r.exitCode}};
        if (r.messageId) j["message_id"] = r.messageId;
        if (!r.message.empty()) j["message"] = r.message;
        if (r.before) j["before"] = Settings(*r.before);
        if (r.after) j["after"] = Settings(*r.after);
        if (!r.datagram.empty()) j["datagram"] = r.datagram;
        s.Out() << Dump(j) << '\n';
    } else if (!r.datagram.empty()) {
        s.Out() << r.datagram << '\n';
    }
    s.Out().flush();
    done(r.exitCode);
}

}  // namespace

void RunSet(Session& s, const SetOptions& o, Done done) {
    if (int rc = s.OpenInterface(o.interface); rc != EXIT_OK) {
        done(rc);
        return;
    }
    s.Engine().ClearDevices();
    const MacAddress mac = o.request.mac;
    s.Search(
        [mac](const _CommandDataTable& r) { return r.primary.mac == mac; },
        [&s, o, done](bool found) {
            SetResult result;
            auto record = s.Engine().FindDevice(o.request.macText);
            if (!found || !record) {
                result.exitCode = EXIT_NOT_FOUND;
                result.message = "Device " + o.request.macText + " did not answer the search.";
                Conclude(s, o, result, done);
                return;
            }
            result.before = *record;
            const PreparedSettings p = PrepareSettings(*record, o.request);
            if (!p.ok) {
                result.exitCode = EXIT_REFUSED;
                result.messageId = p.messageId;
                result.message = p.message;
                Conclude(s, o, result, done);
                return;
            }
            result.after = p.after;
            if (!o.dryRun) {
                s.Transaction(p.after, p.command, p.mask, o.request.waitForRestart, false,
                              [&s, o, done, result](Outcome out) mutable {
                                  result.exitCode = out.exitCode;
                                  result.messageId = out.textId;
                                  result.message = out.message;
                                  // What the device reported when it came back, when it did.
                                  if (out.exitCode == EXIT_OK && out.textId == 441) {
                                      if (auto now = s.Engine().FindDevice(o.request.macText)) {
                                          result.after = *now;
                                      }
                                  }
                                  Conclude(s, o, result, done);
                              });
                return;
            }
            // A dry run still probes, so that it tells about an address in use.
            s.WarnIfCannotFlush();
            result.datagram = DatagramHex(s, p);
            s.Engine().CheckAddressInUse(p.after, true, [&s, o, done, result](int probe) mutable {
                if (probe == PROTO_ADDRESS_IN_USE) {
                    result.exitCode = EXIT_CONFLICT;
                    result.messageId = 436;
                    result.message = Text(436);
                    result.datagram.clear();
                } else if (probe == PROTO_PROBE_NOT_PERMITTED) {
                    // The check the dry run exists for did not happen: not a success.
                    result.exitCode = EXIT_CANNOT_PROBE;
                    result.message = CannotProbeText();
                } else if (probe == PROTO_SOCKET_NOT_READY) {
                    result.exitCode = EXIT_FAILED;
                    result.messageId = 224;
                    result.message = Text(224);
                    result.datagram.clear();
                }
                Conclude(s, o, result, done);
            });
        });
}

// ---- apply ----------------------------------------------------------------------------------

namespace {

Json Settings(const _CommandDataTable& r) {
    return Json{{"ipv4", Ipv4Text(r.primary.ipAddress)},
                {"subnet_mask", Ipv4Text(r.primary.subnetMask)},
                {"gateway", Ipv4Text(r.primary.gateway)},
                {"dns1", Ipv4Text(r.primary.dns1)},
                {"dns2", Ipv4Text(r.primary.dns2)},
                {"port", r.primary.port},
                {"pc_ipv4", Ipv4Text(r.primary.ipAddress2)},
                {"pc_subnet_mask", Ipv4Text(r.primary.subnetMask2)},
                {"ipv4_mode", r.ipv4Mode},
                {"flags", r.flags},
                {"legacy_addressing", r.legacyAddressing}};
}

class ApplyRun : public std::enable_shared_from_this<ApplyRun> {
  public:
    ApplyRun(Session& s, ApplyOptions o, Done done)
        : s_(s), o_(std::move(o)), done_(std::move(done)) {}

    void Start() {
        if (!o_.plan.problems.empty() || o_.plan.rows.empty()) {
            problems_ = o_.plan.problems;
            if (problems_.empty())
                problems_.push_back({0, "", "the plan has no rows", EXIT_REFUSED});
            Report();
            return;
        }
        if (int rc = s_.OpenInterface(o_.interface); rc != EXIT_OK) {
            done_(rc);
            return;
        }
        s_.Engine().ClearDevices();
        auto self = shared_from_this();
        s_.Search([self](const _CommandDataTable&) { return self->AllFound(); },
                  [self](bool) { self->Validate(); });
    }

  private:
    struct Row {
        std::string status = "planned";
        int messageId = 0;
        std::string message;
        std::optional<_CommandDataTable> found;
        PreparedSettings prepared;
        std::optional<_CommandDataTable> result;
    };

    bool AllFound() const {
        for (const auto& r : o_.plan.rows) {
            if (!s_.Engine().FindDevice(r.request.macText)) return false;
        }
        return true;
    }

    void Problem(std::size_t i, std::string message, int code, int id = 0) {
        const PlanRow& pr = o_.plan.rows[i];
        problems_.push_back({pr.line, pr.request.macText, message, code, id});
        if (rows_[i].status == "planned") {
            rows_[i].status = code == EXIT_CONFLICT    ? "conflict"
                              : code == EXIT_NOT_FOUND ? "not found"
                                                       : "refused";
            rows_[i].messageId = id;
            rows_[i].message = std::move(message);
        }
    }

    void Validate() {
        const auto& plan = o_.plan.rows;
        rows_.resize(plan.size());
        std::vector<PreparedSettings> prepared(plan.size());
        for (std::size_t i = 0; i < plan.size(); ++i) {
            rows_[i].found = s_.Engine().FindDevice(plan[i].request.macText);
            if (!rows_[i].found) {
                Problem(i, "the device did not answer the search", EXIT_NOT_FOUND);
                continue;
            }
            prepared[i] = PrepareSettings(*rows_[i].found, plan[i].request);
            rows_[i].prepared = prepared[i];
            if (!prepared[i].ok)
                Problem(i, prepared[i].message, EXIT_REFUSED, prepared[i].messageId);
        }
        std::vector<_CommandDataTable> others;
        s_.Engine().ForEachDevice([&](const DeviceEntry& e) { others.push_back(e.record); });
        for (auto& p : CheckPlanConflicts(plan, prepared, others)) {
            for (std::size_t i = 0; i < plan.size(); ++i) {
                if (plan[i].line == p.line) Problem(i, p.message, p.exitCode);
            }
        }
        s_.WarnIfCannotFlush();
        ProbeMore();
    }

    // Addresses already answering, for rows that are still fine. Checks run a few at a time:
    // each one costs up to three echo time-outs when nothing answers.
    static constexpr int kParallelProbes = 8;

    void ProbeMore() {
        while (!stopProbing_ && probing_ < kParallelProbes && nextProbe_ < rows_.size()) {
            const std::size_t i = nextProbe_++;
            if (rows_[i].status != "planned") continue;
            ++probing_;
            auto self = shared_from_this();
            s_.Engine().CheckAddressInUse(rows_[i].prepared.after, true, [self, i](int result) {
                --self->probing_;
                if (result == PROTO_ADDRESS_IN_USE) {
                    self->Problem(i, Text(436), EXIT_CONFLICT, 436);
                } else if (result == PROTO_PROBE_NOT_PERMITTED) {
                    self->Problem(i, CannotProbeText(), EXIT_CANNOT_PROBE);
                    self->stopProbing_ = true;  // no further probe can run either
                } else if (result == PROTO_SOCKET_NOT_READY) {
                    self->Problem(i, Text(224), EXIT_FAILED, 224);
                    self->stopProbing_ = true;
                }
                self->ProbeMore();
            });
        }
        if (probing_ == 0 && !probesDone_ && (stopProbing_ || nextProbe_ >= rows_.size())) {
            probesDone_ = true;
            AfterValidation();
        }
    }

    void AfterValidation() {
        if (!problems_.empty() || o_.dryRun) {
            Report();
            return;
        }
        ApplyNext(0);
    }

    void ApplyNext(std::size_t i) {
        if (i >= rows_.size()) {
            Report();
            return;
        }
        Row& row = rows_[i];
        const std::string prefix = o_.plan.rows[i].request.macText + ": ";
        s_.SetProgressPrefix(prefix);
        auto self = shared_from_this();
        const PreparedSettings& p = row.prepared;
        s_.Transaction(p.after, p.command, p.mask, true, true, [self, i, prefix](Outcome out) {
            Row& r = self->rows_[i];
            r.messageId = out.textId;
            r.message = out.message;
            r.result = self->s_.Engine().FindDevice(self->o_.plan.rows[i].request.macText);
            self->s_.Err() << prefix << out.message << '\n';
            if (out.exitCode != EXIT_OK) {
                r.status = "failed";
                self->failure_ = out.exitCode;
                for (std::size_t k = i + 1; k < self->rows_.size(); ++k) {
                    self->rows_[k].status = "not applied";
                }
                self->Report();
                return;
            }
            r.status = "applied";
            self->ApplyNext(i + 1);
        });
    }

    int ExitCode() const {
        if (failure_) return failure_;
        int code = 0;
        for (const auto& p : problems_) {
            if (code == 0 || p.exitCode < code) code = p.exitCode;
        }
        return code;
    }

    void Report() {
        std::ostream& out = s_.Out();
        if (o_.format == Format::Json) {
            Json devices = Json::array();
            for (std::size_t i = 0; i < rows_.size(); ++i) {
                const Row& r = rows_[i];
                Json d{{"line", o_.plan.rows[i].line},
                       {"mac", o_.plan.rows[i].request.macText},
                       {"status", r.status}};
                if (r.found) d["kind"] = KindName(r.found->kind);
                if (r.messageId) d["message_id"] = r.messageId;
                if (!r.message.empty()) d["message"] = r.message;
                if (r.found) d["before"] = Settings(*r.found);
                if (r.result) {
                    d["after"] = Settings(*r.result);
                } else if (r.prepared.ok) {
                    d["after"] = Settings(r.prepared.after);
                }
                devices.push_back(std::move(d));
            }
            Json problems = Json::array();
            for (const auto& p : problems_) {
                problems.push_back(Json{{"line", p.line}, {"mac", p.mac}, {"message", p.message}});
            }
            out << Dump(Json{{"dry_run", o_.dryRun},
                             {"devices", devices},
                             {"problems", problems},
                             {"exit_code", ExitCode()}})
                << '\n';
        } else {
            for (const auto& p : problems_) {
                // Plan files may come from anywhere; their cells are echoed here.
                s_.Err() << "line " << p.line;
                if (!p.mac.empty()) s_.Err() << " (" << Printable(p.mac) << ")";
                s_.Err() << ": " << Printable(p.message) << '\n';
            }
            if (!rows_.empty()) {
                char line[160];
                std::snprintf(line, sizeof line, "%-4s  %-17s  %-8s  %-21s  %-21s  %s\n", "LINE",
                              "MAC", "KIND", "BEFORE", "AFTER", "RESULT");
                out << line;
                for (std::size_t i = 0; i < rows_.size(); ++i) {
                    const Row& r = rows_[i];
                    auto brief = [](const _CommandDataTable& t) {
                        return Ipv4Text(t.primary.ipAddress) + ":" + std::to_string(t.primary.port);
                    };
                    const std::string before = r.found ? brief(*r.found) : "-";
                    const std::string after = r.result        ? brief(*r.result)
                                              : r.prepared.ok ? brief(r.prepared.after)
                                                              : "-";
                    std::snprintf(line, sizeof line, "%-4d  %-17s  %-8s  %-21s  %-21s  ",
                                  o_.plan.rows[i].line, o_.plan.rows[i].request.macText.c_str(),
                                  r.found ? KindName(r.found->kind) : "-", before.c_str(),
                                  after.c_str());
                    out << line << r.status << '\n';
                }
            }
        }
        out.flush();
        done_(ExitCode());
    }

    Session& s_;
    ApplyOptions o_;
    Done done_;
    std::vector<Row> rows_;
    std::vector<PlanProblem> problems_;
    int failure_ = 0;
    std::size_t nextProbe_ = 0;
    int probing_ = 0;
    bool stopProbing_ = false;
    bool probesDone_ = false;
};

}  // namespace

std::shared_ptr<void> RunApply(Session& s, const ApplyOptions& options, Done done) {
    auto run = std::make_shared<ApplyRun>(s, options, std::move(done));
    run->Start();
    return run;
}

// ---- probe ----------------------------------------------------------------------------------

std::string EchoOutcomeText(int code) {
    switch (code) {
        case ECHO_ANSWERED:
            return "answered";
        case ECHO_NET_UNREACHABLE:
            return "no answer (destination network unreachable)";
        case ECHO_HOST_UNREACHABLE:
            return "no answer (destination host unreachable)";
        case ECHO_TIMED_OUT:
            return "no answer (timed out)";
        case ECHO_NOT_PERMITTED:
            return "not sent: ICMP echo is not permitted for this process";
        default:
            return "not sent: the probe could not be prepared";
    }
}

void RunProbe(Session& s, std::uint32_t address, Done done) {
    s.Engine().EchoProbe(address, [&s, address, done](int code) {
        s.Out() << Ipv4Text(address) << ' ' << EchoOutcomeText(code) << '\n';
        s.Out().flush();
        switch (code) {
            case ECHO_ANSWERED:
                done(EXIT_OK);
                break;
            case ECHO_NET_UNREACHABLE:
            case ECHO_HOST_UNREACHABLE:
            case ECHO_TIMED_OUT:
                done(EXIT_NOT_FOUND);
                break;
            case ECHO_NOT_PERMITTED:
                done(EXIT_CANNOT_PROBE);
                break;
            default:
                done(EXIT_FAILED);
                break;
        }
    });
}

}  // namespace valdrune::cli

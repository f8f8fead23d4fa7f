#include "cli/Commands.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "cli/ExitCodes.h"
#include "cli/TableLimit.h"
#include "cli/Texts.h"
#include "protocol/Catalogue.h"
#include "protocol/Datagram.h"

namespace valdrune::cli {

// ---- interfaces -----------------------------------------------------------------------------

int RunInterfaces(Session& s, const std::string& adapter, Format format) {
    CProtocol& e = s.Engine();
    e.EnumerateInterfaces(MacAddress{});
    std::vector<_NetInfo> table;
    for (const auto& n : e.Interfaces()) {
        if (!IsLoopback(n)) table.push_back(n);
    }
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
                                std::to_string(table[i].ifIndex), Printable(table[i].description),
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
        case Format::Text:
        case Format::Table:
        case Format::Wide: {
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

bool SetSearchOption(SearchOptions& o, const std::string& name, const std::string& value,
                     std::string& error) {
    const auto refuse = [&](const char* expected) {
        error = "search --" + name + ": \"" + Printable(value) + "\" is not " + expected;
        return false;
    };
    const bool digits = !value.empty() && value.size() <= 9 &&
                        value.find_first_not_of("0123456789") == std::string::npos;
    if (name == "timeout") {
        // Seconds with at most one decimal, from 0.1 to one hour.
        const std::size_t dot = value.find('.');
        const std::string whole = value.substr(0, dot);
        const std::string tenth = dot == std::string::npos ? "" : value.substr(dot + 1);
        const bool number =
            !whole.empty() && whole.size() <= 4 &&
            whole.find_first_not_of("0123456789") == std::string::npos &&
            (dot == std::string::npos || (tenth.size() == 1 && tenth[0] >= '0' && tenth[0] <= '9'));
        const long ms =
            number ? std::stol(whole) * 1000 + (tenth.empty() ? 0 : (tenth[0] - '0') * 100) : 0;
        if (!number || ms < 100 || ms > 3600000)
            return refuse("a number of seconds from 0.1 to 3600");
        o.timeout = Milliseconds{ms};
        return true;
    }
    if (name == "cycles") {
        if (!digits || std::stol(value) < 1 || std::stol(value) > 100)
            return refuse("a number of cycles from 1 to 100");
        o.cycles = static_cast<int>(std::stol(value));
        return true;
    }
    if (name == "expect") {
        if (!digits || std::stol(value) < 1 || std::stol(value) > 100000)
            return refuse("a number of devices from 1 to 100000");
        o.expect = static_cast<int>(std::stol(value));
        return true;
    }
    error = "unknown search option \"" + name + "\"";
    return false;
}

namespace {

constexpr Milliseconds kCycle{8000};

// One adapter's search: cycles one after another until the cycles or the time are used up,
// or until total() reaches the expected count. ended(early) once, unless stopped first.
class SearchRun : public std::enable_shared_from_this<SearchRun> {
  public:
    SearchRun(Session& s, SearchOptions o, std::function<std::size_t()> total,
              std::function<void(bool early)> ended)
        : s_(s), o_(std::move(o)), total_(std::move(total)), ended_(std::move(ended)) {}

    std::size_t Count() const { return s_.Engine().Devices().Size() + s_.BeyondTable().size(); }

    void Start() {
        auto self = shared_from_this();
        deadline_ = s_.Clock().StartTimer(Total(o_), false, [self] {
            self->deadline_ = 0;
            self->End(false);
        });
        Cycle();
    }

    // Ends without reporting.
    void Stop() {
        finished_ = true;
        s_.CancelSearch();
        s_.Clock().CancelTimer(deadline_);
    }

    static Milliseconds Total(const SearchOptions& o) {
        return o.timeout.count() > 0 ? o.timeout : kCycle * o.cycles;
    }

  private:
    void Cycle() {
        ++cycle_;
        auto self = shared_from_this();
        std::function<bool(const _CommandDataTable&)> enough;
        if (o_.expect > 0) {
            enough = [self](const _CommandDataTable&) {
                return self->total_() >= static_cast<std::size_t>(self->o_.expect);
            };
        }
        s_.Search(enough, [self](bool early) {
            if (self->finished_) return;
            if (early) {
                self->End(true);
            } else if (self->cycle_ < self->o_.cycles) {
                self->Cycle();
            }
            // Otherwise answers are taken until the time is up.
        });
    }

    void End(bool early) {
        if (finished_) return;
        Stop();
        ended_(early);
    }

    Session& s_;
    SearchOptions o_;
    std::function<std::size_t()> total_;
    std::function<void(bool)> ended_;
    TimerId deadline_ = 0;
    int cycle_ = 0;
    bool finished_ = false;
};

// The searches of one command, one per adapter, run side by side and reported together.
class SearchAll : public std::enable_shared_from_this<SearchAll> {
  public:
    SearchAll(std::vector<Session*> sessions, std::vector<std::string> adapters, SearchOptions o,
              Done done)
        : sessions_(std::move(sessions)),
          adapters_(std::move(adapters)),
          o_(std::move(o)),
          done_(std::move(done)) {}

    void Start() {
        // Every adapter is opened before anything is sent on any of them.
        for (std::size_t i = 0; i < sessions_.size(); ++i) {
            if (int rc = sessions_[i]->OpenInterface(adapters_[i]); rc != EXIT_OK) {
                done_(rc);
                return;
            }
            sessions_[i]->Engine().ClearDevices();
        }
        Session& first = *sessions_[0];
        start_ = first.Clock().Now();
        // The runs only see this through a weak pointer: the caller's handle keeps it.
        const std::weak_ptr<SearchAll> weak = weak_from_this();
        for (Session* s : sessions_) {
            runs_.push_back(std::make_shared<SearchRun>(
                *s, o_,
                [weak] {
                    auto self = weak.lock();
                    return self ? self->Count() : 0;
                },
                [weak](bool early) {
                    if (auto self = weak.lock()) self->Ended(early);
                }));
        }
        const Milliseconds total = SearchRun::Total(o_);
        const std::string where =
            sessions_.size() > 1 ? " on " + std::to_string(sessions_.size()) + " adapters" : "";
        progress_ = std::make_unique<Progress>(first.Clock(), o_.progress, [this, total, where] {
            const std::size_t n = Count();
            return "Searching" + where + ": " + Seconds(sessions_[0]->Clock().Now() - start_) +
                   " of " + Seconds(total) + ", " + std::to_string(n) + " device" +
                   (n == 1 ? "" : "s");
        });
        for (auto& run : runs_) run->Start();
    }

  private:
    // Answers are counted once per adapter: a device heard on two adapters counts twice.
    std::size_t Count() const {
        std::size_t n = 0;
        for (const auto& run : runs_) n += run->Count();
        return n;
    }

    void Ended(bool early) {
        if (reported_) return;
        ++ended_;
        if (early) {
            for (auto& run : runs_) run->Stop();
        } else if (ended_ < runs_.size()) {
            return;
        }
        reported_ = true;
        progress_.reset();
        Report();
    }

    void Report() {
        Session& first = *sessions_[0];
        std::vector<DeviceView> all;
        for (std::size_t i = 0; i < sessions_.size(); ++i) {
            for (auto& v : sessions_[i]->Devices()) {
                if (o_.adapterColumn) v.adapter = AdapterName(sessions_[i]->Engine());
                all.push_back(std::move(v));
            }
        }
        WriteDevices(first.Out(), all, o_.format);
        first.Out().flush();
        for (Session* s : sessions_) {
            if (s->BeyondTable().empty()) continue;
            if (o_.adapterColumn) first.Err() << AdapterName(s->Engine()) << ": ";
            first.Err() << BeyondTableText(s->BeyondTable().size()) << '\n';
        }
        int code = EXIT_OK;
        if (o_.expect > 0 && Count() < static_cast<std::size_t>(o_.expect)) {
            first.Err() << "Expected " << o_.expect << " device" << (o_.expect == 1 ? "" : "s")
                        << "; " << Count() << " answered in "
                        << Seconds(first.Clock().Now() - start_) << ".\n";
            code = EXIT_NOT_FOUND;
        }
        auto done = std::move(done_);
        done(code);
    }

    std::vector<Session*> sessions_;
    std::vector<std::string> adapters_;
    SearchOptions o_;
    Done done_;
    std::vector<std::shared_ptr<SearchRun>> runs_;
    std::unique_ptr<Progress> progress_;
    Milliseconds start_{0};
    std::size_t ended_ = 0;
    bool reported_ = false;
};

}  // namespace

std::shared_ptr<void> RunSearch(Session& s, const SearchOptions& o, Done done) {
    if (o.watch) {
        if (int rc = s.OpenInterface(o.interface); rc != EXIT_OK) {
            done(rc);
            return nullptr;
        }
        s.Engine().ClearDevices();
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
        return nullptr;
    }
    return RunSearchOnEach({&s}, {o.interface}, o, std::move(done));
}

std::shared_ptr<void> RunSearchOnEach(std::vector<Session*> sessions,
                                      std::vector<std::string> adapters, const SearchOptions& o,
                                      Done done) {
    auto all =
        std::make_shared<SearchAll>(std::move(sessions), std::move(adapters), o, std::move(done));
    all->Start();
    return all;
}

std::vector<std::string> SearchableAdapters(Session& s) {
    s.Engine().EnumerateInterfaces(MacAddress{});
    std::vector<std::string> out;
    for (const auto& n : s.Engine().Interfaces()) {
        if (!IsLoopback(n)) out.push_back(Ipv4Text(n.ipAddress));
    }
    return out;
}

// ---- set ------------------------------------------------------------------------------------

namespace {

bool Carries(std::uint16_t mask, std::uint16_t tag) {
    for (const auto& row : kCatalogue) {
        if (row.Tag() == tag) return CatalogueRowInMask(row, mask);
    }
    return false;
}

}  // namespace

Json Settings(const _CommandDataTable& r, std::uint16_t mask) {
    Json j = Json::object();
    const auto add = [&](std::uint16_t tag, const char* name, Json value) {
        if (Carries(mask, tag)) j[name] = std::move(value);
    };
    add(32, "ipv4", Ipv4Text(r.primary.ipAddress));
    add(33, "subnet_mask", Ipv4Text(r.primary.subnetMask));
    add(34, "gateway", Ipv4Text(r.primary.gateway));
    add(35, "dns1", Ipv4Text(r.primary.dns1));
    add(35, "dns2", Ipv4Text(r.primary.dns2));
    add(37, "port", r.primary.port);
    add(48, "pc_ipv4", Ipv4Text(r.primary.ipAddress2));
    add(49, "pc_subnet_mask", Ipv4Text(r.primary.subnetMask2));
    add(0, "ipv4_mode", r.ipv4Mode);
    add(166, "flags", r.flags);
    add(165, "legacy_addressing", r.legacyAddressing);
    return j;
}

std::uint16_t MaskForKind(std::uint8_t kind) {
    std::uint16_t command = 0, mask = 0;
    return CProtocol::CommandForKind(kind, command, mask) ? mask : 0;
}

std::string ChangeText(const _CommandDataTable& before, const _CommandDataTable& after) {
    const std::uint16_t mask = MaskForKind(before.kind);
    const Json was = Settings(before, mask);
    const Json now = Settings(after, mask);
    std::string text;
    for (const auto& [name, value] : now.items()) {
        if (was.contains(name) && was[name] == value) continue;
        const auto show = [](const Json& v) {
            return v.is_string() ? v.get<std::string>() : v.dump();
        };
        text += (text.empty() ? "Changes: " : ", ") + name + " " +
                (was.contains(name) ? show(was[name]) : "-") + " -> " + show(value);
    }
    return text.empty() ? "No change to the settings the device reported." : text + ".";
}

namespace {

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
        const std::uint16_t mask = r.before ? MaskForKind(r.before->kind) : 0;
        if (r.before) j["before"] = Settings(*r.before, mask);
        if (r.after) j["after"] = Settings(*r.after, mask);
        if (!r.datagram.empty()) j["datagram"] = r.datagram;
        s.Out() << Dump(j) << '\n';
    } else if (!r.datagram.empty()) {
        s.Out() << r.datagram << '\n';
    }
    s.Out().flush();
    done(r.exitCode);
}

}  // namespace

namespace {

std::string SetPhase(Session& s) {
    const CProtocol& e = s.Engine();
    if (e.AddressChecksRunning() > 0) return "Checking whether the new addresses are in use";
    if (e.RestartWaitRunning()) return "Waiting for the device to come back after its restart";
    if (e.SettingsTimeoutRunning() || e.SettingsSendsPending())
        return "Waiting for the device to accept the settings";
    if (e.ConfirmationPending()) return "Confirming";
    return "Searching for the device";
}

}  // namespace

void RunSet(Session& s, const SetOptions& o, Done finished) {
    auto progress = std::make_shared<std::unique_ptr<Progress>>();
    if (o.progress) {
        const Milliseconds start = s.Clock().Now();
        *progress = std::make_unique<Progress>(s.Clock(), o.progress, [&s, start] {
            return SetPhase(s) + ": " + Seconds(s.Clock().Now() - start);
        });
    }
    Done done = [progress, finished = std::move(finished)](int code) {
        progress->reset();
        finished(code);
    };
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
                if (s.BeyondTable().count(o.request.mac)) {
                    result.message = "Device " + o.request.macText +
                                     " answered, but the device table was already full (" +
                                     std::to_string(MAX_DEVICES) +
                                     " devices). Search on a smaller segment to change it.";
                }
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
            if (o.format == Format::Text) s.Err() << ChangeText(*record, p.after) << '\n';
            if (!o.dryRun) {
                s.Transaction(p.after, p.command, p.mask, o.request.waitForRestart, false,
                              [&s, o, done, result](Outcome out) mutable {
                                  result.exitCode = out.exitCode;
                                  result.messageId = out.textId;
                                  result.message = out.message;
                                  // What the device reported when it came back, when it did;
                                  // a two-port device is done on acceptance, unseen since.
                                  if (out.exitCode == EXIT_OK && out.textId == 441 &&
                                      result.before->kind != DEVICE_KIND_TWO_PORT) {
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
                    result.message = Text(436) + ". " + kNothingSent;
                    result.datagram.clear();
                } else if (probe == PROTO_PROBE_NOT_PERMITTED) {
                    // The check the dry run exists for did not happen: not a success.
                    result.exitCode = EXIT_CANNOT_PROBE;
                    result.message = s.CannotProbeText();
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
        // On a segment of more than a table's worth of devices, the plan's own answers still
        // count when they come after the table is full.
        for (const auto& r : o_.plan.rows) planned_.insert(r.request.mac);
        s_.SetBeyondTableHook([weak = weak_from_this()](const _CommandDataTable& record) {
            auto self = weak.lock();
            if (self && self->planned_.count(record.primary.mac) != 0)
                self->beyond_[record.primary.mac] = record;
        });
        start_ = s_.Clock().Now();
        progress_ =
            std::make_unique<Progress>(s_.Clock(), o_.progress, [this] { return ProgressText(); });
        auto self = shared_from_this();
        s_.Search([self](const _CommandDataTable&) { return self->AllFound(); },
                  [self](bool) { self->Validate(); });
    }

  private:
    enum class Stage : std::uint8_t { Searching, Probing, Changing, Verifying };

    struct Row {
        std::string status = "planned";
        int messageId = 0;
        std::string message;
        std::optional<_CommandDataTable> found;
        PreparedSettings prepared;
        std::optional<_CommandDataTable> result;
    };

    // The device's latest answer to the running search, in the table or beyond it.
    std::optional<_CommandDataTable> Seen(std::size_t i) const {
        const MacAddress& mac = o_.plan.rows[i].request.mac;
        if (auto record = s_.Engine().FindDevice(mac)) return record;
        auto it = beyond_.find(mac);
        if (it == beyond_.end()) return std::nullopt;
        return it->second;
    }
    std::size_t FoundCount() const {
        std::size_t n = 0;
        for (std::size_t i = 0; i < o_.plan.rows.size(); ++i) n += Seen(i) ? 1 : 0;
        return n;
    }
    bool AllFound() const { return FoundCount() == o_.plan.rows.size(); }

    // The terminal's progress line: the step, its counts and the time since the start.
    std::string ProgressText() {
        const std::size_t total = o_.plan.rows.size();
        const auto of = [total](std::size_t n) {
            return std::to_string(n) + " of " + std::to_string(total);
        };
        const std::string elapsed = Seconds(s_.Clock().Now() - start_);
        switch (stage_) {
            case Stage::Searching:
                return "Searching for the plan's devices: " + of(FoundCount()) + " found, " +
                       elapsed;
            case Stage::Probing:
                return "Checking whether the new addresses are in use: " +
                       of(nextProbe_ - static_cast<std::size_t>(probing_)) + ", " + elapsed;
            case Stage::Changing:
                break;
            case Stage::Verifying:
                return "Final search: " + of(FoundCount()) + " seen, " + elapsed;
        }
        std::map<std::string, int> by;
        for (const Row& r : rows_) ++by[r.status];
        const CProtocol& e = s_.Engine();
        std::string text = "Changing " + std::to_string(total) + " device" +
                           (total == 1 ? "" : "s") + ": " + std::to_string(by["applied"]) +
                           " done, " + std::to_string(by["failed"]) + " failed, " +
                           std::to_string(e.TransactionsRunning()) + " running, " +
                           std::to_string(e.TransactionsWaiting()) + " waiting, ";
        if (by["not applied"] > 0) text += std::to_string(by["not applied"]) + " not started, ";
        return text + elapsed;
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
                // As set does: a device the table could not hold is not changed.
                Problem(i,
                        beyond_.count(plan[i].request.mac) != 0
                            ? "the device answered, but the device table was already full (" +
                                  std::to_string(MAX_DEVICES) +
                                  " devices); search on a smaller segment to change it"
                            : "the device did not answer the search",
                        EXIT_NOT_FOUND);
                continue;
            }
            prepared[i] = PrepareSettings(*rows_[i].found, plan[i].request);
            rows_[i].prepared = prepared[i];
            if (!prepared[i].ok)
                Problem(i, prepared[i].message, EXIT_REFUSED, prepared[i].messageId);
        }
        std::vector<_CommandDataTable> others;
        s_.Engine().ForEachDevice([&](const DeviceEntry& e) { others.push_back(e.record); });
        auto conflicts = CheckPlanConflicts(plan, prepared, others);
        for (auto& p : CheckPlanAddresses(plan, prepared, s_.Engine().LocalInterface()))
            conflicts.push_back(std::move(p));
        for (auto& p : conflicts) {
            for (std::size_t i = 0; i < plan.size(); ++i) {
                if (plan[i].line == p.line) Problem(i, p.message, p.exitCode);
            }
        }
        s_.WarnIfCannotFlush();
        stage_ = Stage::Probing;
        ProbeMore();
    }

    // Addresses already answering, for rows that are still fine. Checks run a few at a time:
    // each one costs up to three echo time-outs when nothing answers. As many as the changes
    // that may run at once, but at least a few.
    static constexpr int kParallelProbes = 8;

    void ProbeMore() {
        while (!stopProbing_ && probing_ < std::max(kParallelProbes, o_.parallel) &&
               nextProbe_ < rows_.size()) {
            const std::size_t i = nextProbe_++;
            if (rows_[i].status != "planned") continue;
            ++probing_;
            auto self = shared_from_this();
            s_.Engine().CheckAddressInUse(rows_[i].prepared.after, true, [self, i](int result) {
                --self->probing_;
                if (result == PROTO_ADDRESS_IN_USE) {
                    self->Problem(i, Text(436), EXIT_CONFLICT, 436);
                } else if (result == PROTO_PROBE_NOT_PERMITTED) {
                    self->Problem(i, self->s_.CannotProbeText(), EXIT_CANNOT_PROBE);
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
        stage_ = Stage::Changing;
        CProtocol& engine = s_.Engine();
        // Restarts overlap: a device that has taken its settings and gone away leaves its place
        // to the next one, up to the bound of devices away at once.
        const int down = o_.down > 0                                ? o_.down
                         : o_.parallel == 1 || o_.stopOnFailure ? o_.parallel
                                                                  : MAX_DEVICES;
        engine.SetTransactionLimit(std::min(o_.parallel, down));
        engine.SetAwayLimit(down);
        auto self = shared_from_this();
        s_.SetTransactionHook([self](const TransactionEvent& e) { self->OnTransaction(e); });
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            const PreparedSettings& p = rows_[i].prepared;
            TransactionRequest t;
            t.settings = p.after;
            t.command = p.command;
            t.mask = p.mask;
            // Back only once a search shows the new LAN address (any, when the device picks it).
            t.expectedAddress = PlannedLanAddress(p.after);
            // A two-port device does not go away: it is looked for at once.
            if (p.after.kind == DEVICE_KIND_TWO_PORT) t.afterAcceptance = ReturnCheck::Search;
            byMac_[p.after.primary.mac] = i;
            rows_[i].status = "waiting";
            ++unfinished_;
            if (!engine.StartTransaction(t)) {
                --unfinished_;
                rows_[i].status = "failed";
                rows_[i].message = "the device already has a change in progress";
                Failed(EXIT_FAILED);
            }
        }
        if (unfinished_ == 0) Verify();
    }

    // The LAN address the change fixes, 0 when the device chooses it (DHCP, automatic).
    static std::uint32_t PlannedLanAddress(const _CommandDataTable& after) {
        const auto targets = TargetAddresses(after);
        return !targets.empty() && targets.front() == after.primary.ipAddress
                   ? after.primary.ipAddress
                   : 0;
    }

    void Failed(int exitCode) {
        if (Rank(exitCode) > Rank(failure_)) failure_ = exitCode;
        if (o_.stopOnFailure) s_.Engine().CancelWaitingTransactions();
    }

    void OnTransaction(const TransactionEvent& e) {
        auto it = byMac_.find(e.mac);
        if (it == byMac_.end()) return;
        const std::size_t i = it->second;
        Row& r = rows_[i];
        const std::string prefix = o_.plan.rows[i].request.macText + ": ";
        switch (e.state) {
            case TransactionState::Waiting:
                return;
            case TransactionState::Sent:
                r.status = "sent";
                s_.Err() << prefix << Text(226) << '\n';
                return;
            case TransactionState::Accepted:
                r.status = "accepted";
                return;
            case TransactionState::Restarting:
                r.status = "restarting";
                if (r.prepared.after.kind != DEVICE_KIND_TWO_PORT)
                    s_.Err() << prefix << Text(227) << '\n';
                return;
            case TransactionState::Cancelled:
                r.status = "not applied";
                break;
            case TransactionState::Done:
                r.status = "applied";
                r.messageId = 441;
                r.message = Text(441);
                break;
            case TransactionState::Failed: {
                const Outcome out = FailureOutcome(e.failure, s_.CannotProbeText());
                r.status = "failed";
                r.messageId = out.textId;
                r.message = out.message;
                Failed(out.exitCode);
                break;
            }
        }
        if (!r.message.empty()) s_.Err() << prefix << r.message << '\n';
        if (--unfinished_ == 0) Verify();
    }

    static Outcome FailureOutcome(TransactionFailure f, const std::string& cannotProbe) {
        switch (f) {
            case TransactionFailure::NoAcceptance:
                return {439, EXIT_TIMEOUT, SetupFailedText(439)};
            case TransactionFailure::NotSeenAfterRestart:
                return {440, EXIT_NOT_BACK, SetupFailedText(440)};
            case TransactionFailure::AddressInUse:
                return {436, EXIT_CONFLICT, Text(436) + ". " + kNothingSent};
            case TransactionFailure::CannotProbe:
                return {0, EXIT_CANNOT_PROBE, cannotProbe};
            default:
                return {224, EXIT_FAILED, Text(224)};
        }
    }

    // How bad an outcome is: a device left in an unknown state (accepted, not back) outranks
    // one that kept its settings, which outranks one that was never sent anything.
    static int Rank(int exitCode) {
        switch (exitCode) {
            case EXIT_OK:
                return 0;
            case EXIT_NOT_BACK:
                return 7;
            case EXIT_TIMEOUT:
                return 6;
            case EXIT_FAILED:
                return 5;
            case EXIT_CANNOT_PROBE:
                return 4;
            case EXIT_CONFLICT:
                return 3;
            case EXIT_NOT_FOUND:
                return 2;
            default:
                return 1;
        }
    }

    // Every device's final state from a fresh search, not from what the changes reported.
    void Verify() {
        s_.SetTransactionHook(nullptr);
        stage_ = Stage::Verifying;
        s_.Engine().ClearDevices();
        beyond_.clear();
        auto self = shared_from_this();
        s_.Search([self](const _CommandDataTable&) { return self->AllFound(); },
                  [self](bool) { self->Verified(); });
    }

    void Verified() {
        verified_ = true;
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            Row& r = rows_[i];
            r.result = Seen(i);
            if (r.status != "applied") continue;
            const std::uint32_t planned = PlannedLanAddress(r.prepared.after);
            const std::string prefix = o_.plan.rows[i].request.macText + ": ";
            if (!r.result) {
                r.status = "unconfirmed";
                r.message = "the device did not answer the final search";
            } else if (planned != 0 && r.result->primary.ipAddress != planned) {
                r.status = "unconfirmed";
                r.message = "the final search shows " + Ipv4Text(r.result->primary.ipAddress) +
                            ", not " + Ipv4Text(planned);
            } else {
                continue;
            }
            r.messageId = 0;
            s_.Err() << prefix << r.message << '\n';
            if (Rank(EXIT_NOT_BACK) > Rank(failure_)) failure_ = EXIT_NOT_BACK;
        }
        Report();
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
        progress_.reset();  // before anything reaches standard output, which may be the terminal
        s_.SetBeyondTableHook(nullptr);
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
                const std::uint16_t mask = r.found ? MaskForKind(r.found->kind) : 0;
                if (r.found) d["before"] = Settings(*r.found, mask);
                if (r.result) {
                    d["after"] = Settings(*r.result, mask);
                } else if (r.prepared.ok && !verified_) {
                    d["after"] = Settings(r.prepared.after, mask);
                }
                if (verified_) d["seen_in_final_search"] = r.result.has_value();
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
                                              : verified_     ? "not seen"
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
    std::map<MacAddress, std::size_t> byMac_;
    int unfinished_ = 0;  // transactions not yet final
    bool verified_ = false;
    Stage stage_ = Stage::Searching;
    std::set<MacAddress> planned_;
    std::map<MacAddress, _CommandDataTable> beyond_;  // plan devices the full table turned away
    Milliseconds start_{0};
    std::unique_ptr<Progress> progress_;
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

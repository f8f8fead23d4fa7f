// The commands over a Session. Each starts its work and reports its exit code through done()
// exactly once (except search --watch, which runs until the process is stopped).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "cli/Plan.h"
#include "cli/Progress.h"
#include "cli/RecordView.h"
#include "cli/Session.h"
#include "cli/SetRequest.h"

namespace valdrune::cli {

using Done = std::function<void(int exitCode)>;

// Synchronous: the adapter table, with the one `adapter` names marked.
int RunInterfaces(Session& s, const std::string& adapter, Format format);

struct SearchOptions {
    std::string interface;
    Format format = Format::Table;
    bool watch = false;
    int cycles = 1;           // search cycles (8 s each) one after another
    Milliseconds timeout{0};  // how long answers are collected; 0: as long as the cycles last
    int expect = 0;           // stop once this many devices answered; fewer is "not found"
    StatusLine* progress = nullptr;  // progress on a terminal, null for none
    bool adapterColumn = false;      // several adapters asked for: say which one each answered on
};
// Reads --timeout, --cycles or --expect (name without dashes) into options; false with a
// message naming the option and the value refused.
bool SetSearchOption(SearchOptions& options, const std::string& name, const std::string& value,
                     std::string& error);
// Keep the returned handle until done() ran.
std::shared_ptr<void> RunSearch(Session& s, const SearchOptions& options, Done done);
// One search on each adapter at once, sessions[i] on adapters[i], with an adapter column when
// there are several. Every adapter is opened before anything is sent.
std::shared_ptr<void> RunSearchOnEach(std::vector<Session*> sessions,
                                      std::vector<std::string> adapters,
                                      const SearchOptions& options, Done done);
// Every adapter a search can use (not loopback), by IPv4 address.
std::vector<std::string> SearchableAdapters(Session& s);

struct SetOptions {
    std::string interface;
    SetRequest request;
    bool dryRun = false;
    Format format = Format::Text;  // Json: a result object on standard output
    StatusLine* progress = nullptr;
};
void RunSet(Session& s, const SetOptions& options, Done done);

struct ApplyOptions {
    std::string interface;
    Plan plan;
    bool dryRun = false;
    Format format = Format::Text;
    int parallel = 16;            // devices talked to at once; 1 keeps the plan's order
    // Devices started and not yet back at once; 0: no bound beyond the plan's, except with
    // parallel 1 or stopOnFailure, where it is parallel (each device back before the next).
    int down = 0;
    bool stopOnFailure = false;   // after a failure, start no further device
    StatusLine* progress = nullptr;
};
// Keeps its state in an object owned by the returned handle; keep it until done() ran.
std::shared_ptr<void> RunApply(Session& s, const ApplyOptions& options, Done done);

void RunProbe(Session& s, std::uint32_t address, Done done);

// The settings a request built for mask carries (a device's current ones, or what is sent),
// by their JSON names. Mask 0: all of them.
Json Settings(const _CommandDataTable& record, std::uint16_t mask);
std::uint16_t MaskForKind(std::uint8_t kind);
// "Changes: ipv4 192.168.0.20 -> 192.168.0.30, port 80 -> 8080." over the settings sent.
std::string ChangeText(const _CommandDataTable& before, const _CommandDataTable& after);

// Text of an echo outcome code.
std::string EchoOutcomeText(int code);

}  // namespace valdrune::cli

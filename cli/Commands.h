// The commands over a Session. Each starts its work and reports its exit code through done()
// exactly once (except search --watch, which runs until the process is stopped).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "cli/Plan.h"
#include "cli/RecordView.h"
#include "cli/Session.h"
#include "cli/SetRequest.h"

namespace valdrune::cli {

using Done = std::function<void(int exitCode)>;

// Synchronous: the adapter table, with the one `adapter` names marked.
int RunInterfaces(Session& s, const std::string& adapter, Format format);

struct SearchOptions {
    std::string interface;
    Format format = Format::Text;
    bool watch = false;
};
void RunSearch(Session& s, const SearchOptions& options, Done done);

struct SetOptions {
    std::string interface;
    SetRequest request;
    bool dryRun = false;
    Format format = Format::Text;  // Json: a result object on standard output
};
void RunSet(Session& s, const SetOptions& options, Done done);

struct ApplyOptions {
    std::string interface;
    Plan plan;
    bool dryRun = false;
    Format format = Format::Text;
};
// Keeps its state in an object owned by the returned handle; keep it until done() ran.
std::shared_ptr<void> RunApply(Session& s, const ApplyOptions& options, Done done);

void RunProbe(Session& s, std::uint32_t address, Done done);

// Text of an echo outcome code.
std::string EchoOutcomeText(int code);

}  // namespace valdrune::cli

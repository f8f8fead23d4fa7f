// Starting the probe helper (valdrune-netprobe) from the window and the command-line tool:
// found beside the running program, started with an argument vector and an empty
// environment, its one line of output read on the event loop.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/linux/netprobe/NetProbeGrammar.h"
#include "protocol/Lifeline.h"
#include "protocol/Seams.h"

namespace valdrune {

// The helper of this installation or build tree, relative to the running program (never
// looked up through PATH or the environment). Empty when the running program is unknown.
std::string DefaultNetProbePath();

// Whether a run of the helper at `path` would hold the capability (CAP_NET_RAW or
// CAP_NET_ADMIN): it is executable and its file grants it, or this process runs as root.
bool NetProbeMayHold(const std::string& path, int capability);

class NetProbeRunner {
  public:
    NetProbeRunner(IScheduler& scheduler, std::string path);
    ~NetProbeRunner();  // ends and reaps every helper still running
    NetProbeRunner(const NetProbeRunner&) = delete;
    NetProbeRunner& operator=(const NetProbeRunner&) = delete;

    const std::string& Path() const { return path_; }

    // Runs "<path> echo|flush ADDRESS INDEX"; done(line) on the event loop, never from inside
    // Run, with the output line, "timed-out" when it ran past `timeout` (it is then killed),
    // or "" when it could not start or wrote anything but one line. Returns a key for Cancel.
    std::uint64_t Run(NetProbeOperation operation, std::uint32_t address, std::int32_t ifIndex,
                      Milliseconds timeout, std::function<void(const std::string&)> done);
    // The callback never runs; the helper is ended.
    void Cancel(std::uint64_t key);
    void CancelAll();
    std::size_t Running() const { return runs_.size(); }

  private:
    struct Child;
    void OnReadable(std::uint64_t key);
    void Finish(std::uint64_t key, const std::string& line);

    IScheduler& scheduler_;
    std::string path_;
    std::uint64_t nextKey_ = 1;
    std::map<std::uint64_t, std::unique_ptr<Child>> runs_;
    Lifeline posted_;  // for posted failures
};

}  // namespace valdrune

// Network namespaces for GoogleTest end-to-end tests: a "pc" namespace joined by veth pairs to
// one or more "devices" namespaces, the simulator started inside them, commands run inside
// them, and everything removed again when the object goes (also when the test fails).
//
//   valdrune::e2e::NetNs net("cli-search");
//   VALDRUNE_REQUIRE_NETNS(net);                       // GTEST_SKIP with the reason
//   auto sim = net.StartSim({"--scenario", "kinds"});  // waits until the simulator is bound
//   auto r = net.RunInPc({cliPath, "search"}, 20000);
//   EXPECT_EQ(r.exitCode, 0) << r.err;
//
// Segment k has the devices namespace DevNs(k), the pc adapter PcIf(k) = "pc<k>" with address
// Subnet(k)+".1" and MAC PcMac(k), and the devices namespace's own address Subnet(k)+".254".
// The pc namespace's default route points into segment 0.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifndef VALDRUNE_SIM_BINARY
#define VALDRUNE_SIM_BINARY "valdrune-sim"
#endif

namespace valdrune::e2e {

// Dotted IPv4 text as the host-order number the core works with; 0 for anything else.
inline std::uint32_t Address(const std::string& text) {
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1) return 0;
    return ntohl(a.s_addr);
}

// The program of a test: program itself, or the command that the environment variable names
// instead, as space-separated words (the Windows build under Wine); the cases stay the same.
inline std::vector<std::string> ProgramCommand(const char* variable, const std::string& program) {
    const char* other = std::getenv(variable);
    if (other == nullptr || *other == '\0') return {program};
    std::vector<std::string> words;
    std::istringstream text(other);
    for (std::string w; text >> w;) words.push_back(w);
    return words;
}

struct RunResult {
    int exitCode = -1;  // -1 when the program could not start or was killed at its time-out
    bool timedOut = false;
    std::string out;
    std::string err;
};

namespace detail {

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string TempDir(const std::string& stem) {
    std::string pattern = "/tmp/" + stem + ".XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) return "/tmp";
    return buf.data();
}

// fork + exec with stdout/stderr to files; no shell, so arguments need no quoting.
inline pid_t SpawnToFiles(const std::vector<std::string>& argv, const std::string& outPath,
                          const std::string& errPath, const std::vector<std::string>& env = {}) {
    if (argv.empty()) return -1;
    pid_t pid = fork();
    if (pid != 0) return pid;
    setpgid(0, 0);  // own process group, so a time-out can stop its children too
    int in = open("/dev/null", O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in >= 0) dup2(in, 0);
    if (out >= 0) dup2(out, 1);
    if (err >= 0) dup2(err, 2);
    for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

// Waits for pid up to timeoutMs (<0: forever); on time-out its group is killed.
inline int WaitFor(pid_t pid, int timeoutMs, bool* timedOut) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        pid_t r = waitpid(pid, &status, timeoutMs < 0 ? 0 : WNOHANG);
        if (r == pid) break;
        if (r < 0) return -1;
        if (std::chrono::steady_clock::now() >= deadline) {
            if (timedOut) *timedOut = true;
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline RunResult Run(const std::vector<std::string>& argv, int timeoutMs,
                     const std::string& scratch, const std::vector<std::string>& env = {}) {
    static int counter = 0;
    std::string stem = scratch + "/run" + std::to_string(++counter);
    RunResult result;
    pid_t pid = SpawnToFiles(argv, stem + ".out", stem + ".err", env);
    if (pid < 0) return result;
    result.exitCode = WaitFor(pid, timeoutMs, &result.timedOut);
    result.out = ReadWholeFile(stem + ".out");
    result.err = ReadWholeFile(stem + ".err");
    std::remove((stem + ".out").c_str());
    std::remove((stem + ".err").c_str());
    return result;
}

inline bool Quiet(const std::vector<std::string>& argv) {
    return Run(argv, 10000, "/tmp").exitCode == 0;
}

}  // namespace detail

// A program running in the background inside a namespace; stopped when the object goes.
class Process {
public:
    Process() = default;
    Process(pid_t pid, std::string errPath, std::string outPath)
        : pid_(pid), errPath_(std::move(errPath)), outPath_(std::move(outPath)) {}
    Process(Process&& o) noexcept { *this = std::move(o); }
    Process& operator=(Process&& o) noexcept {
        if (this != &o) {
            Stop();
            pid_ = std::exchange(o.pid_, -1);
            errPath_ = std::move(o.errPath_);
            outPath_ = std::move(o.outPath_);
        }
        return *this;
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process() { Stop(); }

    bool Running() const {
        if (pid_ <= 0) return false;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == 0) return true;
        pid_ = -1;  // reaped: never signal a pid the system may hand out again
        return false;
    }
    pid_t Pid() const { return pid_; }
    // What the program wrote so far (the simulator logs every exchange on stderr).
    std::string Err() const { return detail::ReadWholeFile(errPath_); }
    std::string Out() const { return detail::ReadWholeFile(outPath_); }
    void Signal(int sig) const {
        if (pid_ > 0) kill(pid_, sig);
    }
    // SIGTERM, then SIGKILL after a grace period. Returns the exit code (-1 if killed).
    int Stop(int graceMs = 2000) {
        if (pid_ <= 0) return -1;
        kill(pid_, SIGTERM);
        int code = detail::WaitFor(pid_, graceMs, nullptr);
        pid_ = -1;
        return code;
    }

private:
    mutable pid_t pid_ = -1;
    std::string errPath_;
    std::string outPath_;
};

class NetNs {
public:
    // tag: a short name for the test (letters, digits, '-'); segments: devices namespaces.
    explicit NetNs(const std::string& tag, int segments = 1) {
        if (geteuid() != 0) {
            error_ = "network-namespace tests need root";
            return;
        }
        prefix_ = "vd-" + tag + "-" + std::to_string(getpid()) + "-" + std::to_string(++Serial());
        octet_ = static_cast<int>((getpid() + Serial() * 37) % 250 + 1);
        scratch_ = detail::TempDir(prefix_);
        pc_ = prefix_ + "-pc";
        if (!Ip({"netns", "add", pc_})) {
            error_ = "cannot create network namespaces here (ip netns add " + pc_ + " failed)";
            pc_.clear();
            return;
        }
        created_.push_back(pc_);
        if (!Ip({"-n", pc_, "link", "set", "lo", "up"})) {
            error_ = "cannot bring up lo in " + pc_;
            return;
        }
        for (int k = 0; k < segments; ++k) {
            if (!AddSegment()) return;
        }
        if (!Ip({"-n", pc_, "route", "add", "default", "via", DevIp(0), "dev", PcIf(0)})) {
            error_ = "cannot add the default route in " + pc_;
            return;
        }
        ok_ = true;
    }

    NetNs(const NetNs&) = delete;
    NetNs& operator=(const NetNs&) = delete;

    ~NetNs() {
        sims_.clear();
        for (const auto& ns : created_) {
            KillProcessesIn(ns);
            Ip({"netns", "del", ns});
        }
        if (scratch_.size() > 5) detail::Quiet({"rm", "-rf", scratch_});
    }

    bool Ok() const { return ok_; }
    const std::string& Error() const { return error_; }

    // Adds one more devices namespace, seen from the pc namespace as adapter pc<k>.
    bool AddSegment() {
        int k = static_cast<int>(dev_.size());
        std::string ns = prefix_ + "-dev" + std::to_string(k);
        if (!Ip({"netns", "add", ns})) {
            error_ = "cannot create namespace " + ns;
            return false;
        }
        created_.push_back(ns);
        dev_.push_back(ns);
        const std::string subnet = Subnet(k);
        bool ok = Ip({"-n", ns, "link", "set", "lo", "up"}) &&
                  Ip({"link", "add", PcIf(k), "netns", pc_, "address", PcMac(k), "type", "veth",
                      "peer", "name", "dev0", "netns", ns}) &&
                  Ip({"-n", pc_, "addr", "add", subnet + ".1/24", "dev", PcIf(k)}) &&
                  Ip({"-n", ns, "addr", "add", subnet + ".254/24", "dev", "dev0"}) &&
                  Ip({"-n", pc_, "link", "set", PcIf(k), "up"}) &&
                  Ip({"-n", ns, "link", "set", "dev0", "up"});
        if (!ok) error_ = "cannot set up the veth pair of segment " + std::to_string(k);
        return ok;
    }

    const std::string& PcNs() const { return pc_; }
    const std::string& DevNs(int k = 0) const { return dev_.at(static_cast<std::size_t>(k)); }
    int Segments() const { return static_cast<int>(dev_.size()); }
    std::string Subnet(int k = 0) const {
        return "10." + std::to_string(77 + k) + "." + std::to_string(octet_);
    }
    std::string PcIp(int k = 0) const { return Subnet(k) + ".1"; }
    std::string DevIp(int k = 0) const { return Subnet(k) + ".254"; }
    std::string PcIf(int k = 0) const { return "pc" + std::to_string(k); }
    std::string PcMac(int k = 0) const {
        char buf[24];
        std::snprintf(buf, sizeof buf, "02:76:%02x:00:00:%02x", octet_, k + 1);
        return buf;
    }
    // A scratch directory removed with the namespaces.
    const std::string& Scratch() const { return scratch_; }

    // The environment of a window run in this network: offscreen, English, its own runtime
    // and configuration folders (neither a real user's instance lock nor their settings are
    // touched), plus extra "NAME=value" entries.
    std::vector<std::string> WindowEnvironment(const std::vector<std::string>& extra) const {
        std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen",
                                        "XDG_RUNTIME_DIR=" + scratch_,
                                        "XDG_CONFIG_HOME=" + scratch_ + "/config",
                                        "LANG=C.UTF-8",
                                        "LANGUAGE=",
                                        "LC_ALL="};
        env.insert(env.end(), extra.begin(), extra.end());
        return env;
    }

    // Runs argv inside namespace ns and waits (timeoutMs; the program is killed after it).
    RunResult RunIn(const std::string& ns, const std::vector<std::string>& argv,
                    int timeoutMs = 30000, const std::vector<std::string>& env = {}) const {
        return detail::Run(Wrap(ns, argv), timeoutMs, scratch_, env);
    }
    RunResult RunInPc(const std::vector<std::string>& argv, int timeoutMs = 30000,
                      const std::vector<std::string>& env = {}) const {
        return RunIn(pc_, argv, timeoutMs, env);
    }
    RunResult RunInDev(const std::vector<std::string>& argv, int timeoutMs = 30000,
                       int k = 0) const {
        return RunIn(DevNs(k), argv, timeoutMs);
    }

    // Starts argv in the background inside ns; env entries are "NAME=value".
    Process Spawn(const std::string& ns, const std::vector<std::string>& argv,
                  const std::vector<std::string>& env = {}) const {
        static int counter = 0;
        std::string stem = scratch_ + "/bg" + std::to_string(++counter);
        pid_t pid = detail::SpawnToFiles(Wrap(ns, argv), stem + ".out", stem + ".err", env);
        return Process(pid, stem + ".err", stem + ".out");
    }

    // Starts valdrune-sim in segment k with the given arguments (default: --scenario kinds)
    // and waits until it has bound its port. Addresses move on dev0 of that namespace; device
    // addresses of built-in scenarios lie in Subnet(k). The returned process is stopped when it
    // goes; keep it alive for the test. On failure Running() is false and Err() says why.
    // timeScale divides the devices' delays, to match tools run at the same scale.
    Process& StartSim(std::vector<std::string> args = {}, int k = 0, int timeScale = 1) {
        if (args.empty()) args = {"--scenario", "kinds"};
        if (timeScale > 1) {
            args.push_back("--time-scale");
            args.push_back(std::to_string(timeScale));
        }
        std::string ready = scratch_ + "/sim" + std::to_string(sims_.size()) + ".ready";
        std::vector<std::string> argv = {SimBinary(), "--interface", "dev0", "--subnet",
                                         Subnet(k), "--ready-file", ready};
        argv.insert(argv.end(), args.begin(), args.end());
        sims_.push_back(Spawn(DevNs(k), argv));
        Process& sim = sims_.back();
        for (int i = 0; i < 800; ++i) {  // 20 s: a loaded machine starts slowly
            struct stat st {};
            if (stat(ready.c_str(), &st) == 0) return sim;
            if (!sim.Running()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        ADD_FAILURE() << "valdrune-sim did not get ready in " << DevNs(k) << ":\n" << sim.Err();
        sim.Stop(200);
        return sim;
    }

    // StartSim on a --config text (written to the scratch folder), more arguments after it.
    Process& StartSimOn(const std::string& config, std::vector<std::string> more = {}, int k = 0,
                        int timeScale = 1) {
        const std::string path = scratch_ + "/sim" + std::to_string(sims_.size()) + ".json";
        std::ofstream(path) << config;
        more.insert(more.begin(), {"--config", path});
        return StartSim(std::move(more), k, timeScale);
    }

    static std::string SimBinary() {
        if (const char* p = std::getenv("VALDRUNE_SIM")) return p;
        return VALDRUNE_SIM_BINARY;
    }

    // Moves the calling thread into a namespace for the guard's lifetime, so that sockets and
    // adapter lists made in-process (the real transport, getifaddrs) belong to it.
    class Entered {
    public:
        explicit Entered(const std::string& ns) {
            self_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
            int target = open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
            ok_ = self_ >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
            if (target >= 0) close(target);
        }
        ~Entered() {
            if (ok_) setns(self_, CLONE_NEWNET);
            if (self_ >= 0) close(self_);
        }
        Entered(const Entered&) = delete;
        Entered& operator=(const Entered&) = delete;
        bool Ok() const { return ok_; }

    private:
        int self_ = -1;
        bool ok_ = false;
    };
    Entered EnterPc() const { return Entered(pc_); }

private:
    static int& Serial() {
        static int serial = 0;
        return serial;
    }
    static bool Ip(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {"ip"};
        argv.insert(argv.end(), args.begin(), args.end());
        return detail::Quiet(argv);
    }
    static std::vector<std::string> Wrap(const std::string& ns,
                                         const std::vector<std::string>& argv) {
        std::vector<std::string> all = {"ip", "netns", "exec", ns};
        all.insert(all.end(), argv.begin(), argv.end());
        return all;
    }
    void KillProcessesIn(const std::string& ns) const {
        for (int round = 0; round < 2; ++round) {
            RunResult r = detail::Run({"ip", "netns", "pids", ns}, 5000, scratch_);
            std::istringstream pids(r.out);
            bool any = false;
            for (long pid = 0; pids >> pid;) {
                any = true;
                kill(static_cast<pid_t>(pid), round == 0 ? SIGTERM : SIGKILL);
            }
            if (!any) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }

    bool ok_ = false;
    std::string error_;
    std::string prefix_;
    int octet_ = 1;
    std::string scratch_;
    std::string pc_;
    std::vector<std::string> dev_;
    std::vector<std::string> created_;
    std::deque<Process> sims_;  // deque: StartSim hands out references
};

}  // namespace valdrune::e2e

// Skips the current test loudly when the namespaces could not be made.
#define VALDRUNE_REQUIRE_NETNS(net)                                                    \
    do {                                                                               \
        if (!(net).Ok()) GTEST_SKIP() << "SKIP (no network namespaces): " << (net).Error(); \
    } while (0)

namespace valdrune::e2e {

// A fixture whose tests run in the pc namespace of namespaces of their own: SetUp skips the
// test when those could not be made, moves the thread into the pc namespace and then runs
// SetUpInPc; TearDown takes the thread back. Base is ::testing::Test or a TestWithParam.
template <class Base = ::testing::Test>
class PcNamespaceTest : public Base {
protected:
    explicit PcNamespaceTest(const std::string& tag, int segments = 1) : net_(tag, segments) {}

    void SetUp() final {
        VALDRUNE_REQUIRE_NETNS(net_);
        inPc_.emplace(net_.PcNs());
        ASSERT_TRUE(inPc_->Ok());
        SetUpInPc();
    }
    virtual void SetUpInPc() {}
    void TearDown() override { inPc_.reset(); }

    NetNs net_;
    std::optional<NetNs::Entered> inPc_;
};

}  // namespace valdrune::e2e

// valdrune-sim: simulated network cameras and recorders that speak the device side of the
// discovery and settings protocol. Meant to run inside a network namespace.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <signal.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/linux/SocketMessage.h"
#include "sim/DevicePeer.h"
#include "sim/Loop.h"
#include "sim/Scenario.h"
#include "sim/WebServer.h"

namespace valdrune::sim {
namespace {

constexpr const char* kUsage = R"(Usage: valdrune-sim [options]

Simulated network cameras and recorders for trying and testing Valdrune without hardware.
Run it inside a network namespace: it answers search requests on UDP port 10670 and, with
--interface, puts each device's IPv4 address on that interface (as /32) so that echo requests to a
device are answered and follow its address when its settings change.

Devices (one of):
  --scenario NAME     built-in set: kinds (one device of each kind), demo (a realistic mix),
                      many (--count devices), faults (malformed answers),
                      behaviours (late, refusing, vanishing, zero-address, restart-locked,
                      slow and unicast devices)   [default: kinds]
  --config FILE       devices described in JSON (see valdrune-sim(1))

Options:
  --subnet A.B.C      network of the scenario's addresses (also ".N" hosts in JSON)
                      [default: 192.168.0]
  --count N           devices of the "many" scenario [default: 100]
  --interface IF      send and receive on IF only, and move device addresses on it
  --port P            UDP port to listen on [default: 10670]
  --reply-port P      UDP port answers go to [default: 10669]
  --unicast           every device answers to the requester's address instead of broadcasting
  --ready-file PATH   create PATH once the port is bound (for scripts and tests)
  --time-scale N      divide every delay of the devices by N, to match tools run faster
                      [default: 1]
  --no-pages          serve no device web pages (by default each device serves its page
                      on its address and HTTP port, HTTPS for devices that report it)
  --list              print the devices and exit
  -v, --verbose       log every datagram (with its bytes) and every exchange on stderr
  -h, --help          this text
      --version       the version
)";

struct Options {
    std::string scenario = "kinds";
    std::string config;
    ScenarioOptions scenarioOptions;
    std::string interface;
    std::uint16_t port = DEVICE_PORT;
    std::uint16_t replyPort = LOCAL_PORT;
    bool unicast = false;
    std::string readyFile;
    int timeScale = 1;
    bool list = false;
    bool verbose = false;
    bool noPages = false;
};

bool ParseSubnet(std::string text, std::uint32_t& network) {
    if (auto slash = text.find('/'); slash != std::string::npos) text.resize(slash);
    int dots = 0;
    for (char c : text) dots += c == '.';
    if (dots == 2) text += ".0";
    std::uint32_t v = 0;
    if (!ParseIpv4(text, v)) return false;
    network = v & 0xFFFFFF00u;
    return true;
}

std::optional<int> ParsePositive(const std::string& s, int max) {
    try {
        std::size_t used = 0;
        const int v = std::stoi(s, &used);
        if (used != s.size() || v < 1 || v > max) return std::nullopt;
        return v;
    } catch (...) {
        return std::nullopt;
    }
}

// Returns an exit code when the program should end right away.
std::optional<int> ParseArgs(int argc, char** argv, Options& o) {
    auto value = [&](int& i) -> std::optional<std::string> {
        if (i + 1 >= argc) {
            std::cerr << "valdrune-sim: " << argv[i] << " needs a value\n";
            return std::nullopt;
        }
        return std::string(argv[++i]);
    };
    // The value of option a as a whole number from 1 to max; says so when it is not one.
    auto number = [&](int& i, const std::string& a, int max) -> std::optional<int> {
        const std::optional<std::string> text = value(i);
        if (!text) return std::nullopt;
        const std::optional<int> n = ParsePositive(*text, max);
        if (!n) std::cerr << "valdrune-sim: bad " << a << " '" << *text << "'\n";
        return n;
    };
    // The options that take a text as it is, and those that take a whole number up to a bound.
    const std::map<std::string, std::string*> texts = {{"--scenario", &o.scenario},
                                                       {"--config", &o.config},
                                                       {"--interface", &o.interface},
                                                       {"--ready-file", &o.readyFile}};
    const std::map<std::string, std::pair<int*, int>> numbers = {
        {"--count", {&o.scenarioOptions.count, 5000}}, {"--time-scale", {&o.timeScale, 1000000}}};
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        std::optional<std::string> v;
        if (const auto text = texts.find(a); text != texts.end()) {
            if (!(v = value(i))) return 2;
            *text->second = *v;
        } else if (const auto whole = numbers.find(a); whole != numbers.end()) {
            const auto n = number(i, a, whole->second.second);
            if (!n) return 2;
            *whole->second.first = *n;
        } else if (a == "-h" || a == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (a == "--version") {
            std::cout << "valdrune-sim " << VALDRUNE_VERSION << "\n";
            return 0;
        } else if (a == "-v" || a == "--verbose") {
            o.verbose = true;
        } else if (a == "--list") {
            o.list = true;
        } else if (a == "--unicast") {
            o.unicast = true;
        } else if (a == "--subnet") {
            if (!(v = value(i))) return 2;
            if (!ParseSubnet(*v, o.scenarioOptions.network)) {
                std::cerr << "valdrune-sim: bad --subnet '" << *v << "' (expected A.B.C)\n";
                return 2;
            }
        } else if (a == "--port" || a == "--reply-port") {
            const auto n = number(i, a, 65535);
            if (!n) return 2;
            (a == "--port" ? o.port : o.replyPort) = static_cast<std::uint16_t>(*n);
        } else if (a == "--no-pages") {
            o.noPages = true;
        } else {
            std::cerr << "valdrune-sim: unknown option '" << a << "'\n" << kUsage;
            return 2;
        }
    }
    return std::nullopt;
}

// UDP on the device port, on one interface when given; addresses moved over netlink.
class CLinuxLink : public IPeerLink {
public:
    CLinuxLink(const Options& o) : o_(o) {}
    ~CLinuxLink() override {
        for (std::uint32_t a : held_) RunIp("del", a);
        if (fd_ >= 0) close(fd_);
    }

    bool Open(std::string& error) {
        if (!o_.interface.empty()) {
            ifIndex_ = static_cast<int>(if_nametoindex(o_.interface.c_str()));
            if (ifIndex_ == 0) {
                error = "no interface '" + o_.interface + "' here";
                return false;
            }
        }
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) {
            error = std::string("socket: ") + std::strerror(errno);
            return false;
        }
        int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        if (!o_.interface.empty() &&
            setsockopt(fd_, SOL_SOCKET, SO_BINDTODEVICE, o_.interface.c_str(),
                       static_cast<socklen_t>(o_.interface.size())) != 0) {
            error = "cannot bind to " + o_.interface + ": " + std::strerror(errno);
            return false;
        }
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(o_.port);
        any.sin_addr.s_addr = htonl(INADDR_ANY);
        if (bind(fd_, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
            error = "cannot bind UDP port " + std::to_string(o_.port) + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }

    int Fd() const { return fd_; }

    void Send(const std::vector<std::uint8_t>& datagram, std::uint32_t source,
              std::uint32_t unicastTo) override {
        const std::uint32_t dest = unicastTo ? unicastTo : (o_.unicast ? lastFrom_ : 0xFFFFFFFFu);
        SocketMessage m(datagram.data(), datagram.size());
        m.To(dest ? dest : 0xFFFFFFFFu, o_.replyPort);
        // Out of our interface, from the device's own address.
        if (ifIndex_ > 0 || source != 0) m.From(ifIndex_, htonl(held_.count(source) ? source : 0));
        else m.WithoutControl();
        if (sendmsg(fd_, &m.msg, 0) < 0)
            Log(std::string("send to ") + Ipv4Text(dest) + " failed: " + std::strerror(errno));
    }

    void AddAddress(std::uint32_t a) override {
        if (o_.interface.empty()) return;
        if (RunIp("add", a)) held_.insert(a);
    }
    void RemoveAddress(std::uint32_t a) override {
        if (!held_.count(a)) return;
        held_.erase(a);
        RunIp("del", a);
    }
    void Log(const std::string& line) override { std::cerr << line << "\n" << std::flush; }

    // Reads one datagram; false when nothing could be read.
    bool Receive(std::vector<std::uint8_t>& buf, std::uint32_t& from) {
        buf.resize(65536);
        sockaddr_in src{};
        socklen_t len = sizeof src;
        const ssize_t n = recvfrom(fd_, buf.data(), buf.size(), MSG_TRUNC,
                                   reinterpret_cast<sockaddr*>(&src), &len);
        if (n < 0) return false;
        buf.resize(std::min<std::size_t>(static_cast<std::size_t>(n), buf.size()));
        from = ntohl(src.sin_addr.s_addr);
        lastFrom_ = from;
        return true;
    }

private:
    // RTM_NEWADDR / RTM_DELADDR of one /32 on our interface; one round trip, no helper process.
    bool RunIp(const char* verb, std::uint32_t a) {
        const bool add = std::strcmp(verb, "add") == 0;
        const int nl = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
        if (nl < 0) {
            Log(std::string("netlink: ") + std::strerror(errno));
            return false;
        }
        struct {
            nlmsghdr h;
            ifaddrmsg ifa;
            char attrs[64];
        } req{};
        req.h.nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrmsg));
        req.h.nlmsg_type = add ? RTM_NEWADDR : RTM_DELADDR;
        req.h.nlmsg_flags = static_cast<std::uint16_t>(NLM_F_REQUEST | NLM_F_ACK |
                                                       (add ? NLM_F_CREATE | NLM_F_EXCL : 0));
        req.h.nlmsg_seq = ++netlinkSeq_;
        req.ifa.ifa_family = AF_INET;
        req.ifa.ifa_prefixlen = 32;
        req.ifa.ifa_scope = RT_SCOPE_UNIVERSE;
        req.ifa.ifa_index = static_cast<unsigned>(ifIndex_);
        const std::uint32_t wire = htonl(a);
        for (unsigned short type : {IFA_LOCAL, IFA_ADDRESS}) {
            auto* rta = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&req) +
                                                  NLMSG_ALIGN(req.h.nlmsg_len));
            rta->rta_type = type;
            rta->rta_len = RTA_LENGTH(sizeof wire);
            std::memcpy(RTA_DATA(rta), &wire, sizeof wire);
            req.h.nlmsg_len = NLMSG_ALIGN(req.h.nlmsg_len) + RTA_ALIGN(rta->rta_len);
        }
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        bool ok = sendto(nl, &req, req.h.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
                         sizeof kernel) == static_cast<ssize_t>(req.h.nlmsg_len);
        int error = ok ? 0 : errno;
        if (ok) {
            alignas(nlmsghdr) char reply[512];
            const ssize_t n = recv(nl, reply, sizeof reply, 0);
            const auto* h = reinterpret_cast<const nlmsghdr*>(reply);
            if (n < static_cast<ssize_t>(NLMSG_LENGTH(sizeof(nlmsgerr))) || h->nlmsg_type != NLMSG_ERROR) {
                ok = false;
                error = EPROTO;
            } else {
                nlmsgerr e{};
                std::memcpy(&e, reply + NLMSG_LENGTH(0), sizeof e);
                error = -e.error;
                ok = error == 0;
            }
        }
        close(nl);
        if (!ok)
            Log("cannot " + std::string(verb) + " " + Ipv4Text(a) + "/32 on " + o_.interface +
                ": " + std::strerror(error));
        return ok;
    }

    const Options& o_;
    int fd_ = -1;
    int ifIndex_ = 0;
    std::uint32_t netlinkSeq_ = 0;
    std::uint32_t lastFrom_ = 0;
    std::set<std::uint32_t> held_;
};

// Pads UTF-8 text to a number of terminal columns (East Asian characters take two).
std::string Column(const std::string& text, std::size_t columns) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if ((b & 0xC0) == 0x80) continue;
        width += b >= 0xE3 && b <= 0xED ? 2 : 1;
    }
    return text + std::string(width < columns ? columns - width : 1, ' ');
}

void PrintDevices(const std::vector<DeviceSpec>& devices) {
    for (const auto& d : devices) {
        std::string line = Column(KindName(d.kind), 10) + MacText(d.record.primary.mac) + "  " +
                           Column(Ipv4Text(d.record.primary.ipAddress), 16) +
                           Column(FieldText(d.record.deviceName), 17) + FieldText(d.record.model);
        if (d.RestartLocked()) line += "  restart-locked";
        if (d.behaviour.neverAccepts) line += "  never-accepts";
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
}

int Main(int argc, char** argv) {
    Options o;
    if (auto code = ParseArgs(argc, argv, o)) return *code;

    std::optional<std::vector<DeviceSpec>> devices;
    if (!o.config.empty()) {
        std::ifstream in(o.config);
        if (!in) {
            std::cerr << "valdrune-sim: cannot read " << o.config << "\n";
            return 2;
        }
        std::stringstream text;
        text << in.rdbuf();
        std::string error;
        devices = LoadDevicesJson(text.str(), o.scenarioOptions, error);
        if (!devices) {
            std::cerr << "valdrune-sim: " << o.config << ": " << error << "\n";
            return 2;
        }
    } else {
        devices = BuiltInScenario(o.scenario, o.scenarioOptions);
        if (!devices) {
            std::cerr << "valdrune-sim: unknown scenario '" << o.scenario << "' (";
            const auto names = ScenarioNames();
            for (std::size_t i = 0; i < names.size(); ++i) std::cerr << (i ? ", " : "") << names[i];
            std::cerr << ")\n";
            return 2;
        }
    }
    if (o.unicast)
        for (auto& d : *devices) d.behaviour.unicast = true;
    if (o.list) {
        PrintDevices(*devices);
        return 0;
    }

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    const int sigFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);

    CLinuxLink link(o);
    std::string error;
    if (!link.Open(error)) {
        std::cerr << "valdrune-sim: " << error << "\n";
        return 1;
    }
    CPollLoop loop;
    const int scale = o.timeScale;
    CDevicePeer peer(std::move(*devices), loop, link, scale, o.verbose);
    peer.Start();

    std::vector<std::uint8_t> buf;
    loop.Watch(link.Fd(), [&] {
        std::uint32_t from = 0;
        if (link.Receive(buf, from)) peer.OnDatagram(buf, from);
    });
    if (sigFd >= 0) loop.Watch(sigFd, [&] { loop.Quit(); });
    CWebServer web(loop, peer, o.interface);
    if (!o.noPages) {
        // Settings may move a device to another port; a second's delay is fine for a page.
        auto syncPages = [&web, reported = false]() mutable {
            std::string why;
            if (!web.Sync(why) && !reported) {
                std::cerr << "valdrune-sim: " << why << "\n";
                reported = true;
            }
        };
        syncPages();
        loop.StartTimer(Milliseconds(1000), true, syncPages);
    }

    std::cerr << "valdrune-sim: " << peer.Count() << " devices on UDP port " << o.port
              << (o.interface.empty() ? "" : " of " + o.interface)
              << (scale > 1 ? ", time scale 1/" + std::to_string(scale) : "") << "\n";
    if (!o.readyFile.empty()) std::ofstream(o.readyFile) << getpid() << "\n";

    const bool ok = loop.Run();
    peer.Stop();
    if (sigFd >= 0) close(sigFd);
    return ok ? 0 : 1;
}

}  // namespace
}  // namespace valdrune::sim

int main(int argc, char** argv) { return valdrune::sim::Main(argc, argv); }

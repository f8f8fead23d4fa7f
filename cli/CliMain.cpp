// valdrune-cli: the core of the window on the command line, for scripts, SSH and CI.
#include "cli/CliMain.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <QCoreApplication>
#include <QLocale>
#include <QMetaObject>
#include <algorithm>
#include <csignal>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <tuple>

#include "cli/Commands.h"
#include "cli/Decode.h"
#include "cli/Doctor.h"
#include "cli/ExitCodes.h"
#include "cli/Reach.h"
#include "platform/AnsiText.h"
#include "platform/Platform.h"
#include "platform/StopRequest.h"
#include "res/CodePage.h"

using namespace valdrune;
using namespace valdrune::cli;

namespace {

// Standard error, with a progress line when it is a terminal.
StatusLine gStatus(std::cerr.rdbuf());
std::ostream gErr(&gStatus);
StatusLine* ProgressLine() { return ErrorStreamIsTerminal() ? &gStatus : nullptr; }

// Runs one asynchronous command on the Qt event loop until it reports its exit code.
template <typename Start>
int RunOnEventLoop(int argc, char** argv, int timeScale, const std::string& helper, Start start) {
    QCoreApplication app(argc, argv);
    auto services =
        CreatePlatformServices(timeScale, helper.empty() ? DefaultNetProbePath() : helper);
    int code = EXIT_FAILED;
    {
        Session session(services->Environment(), std::cout, gErr);
        session.SetRights(kHostRights);
        auto done = [&code](int c) {
            code = c;
            // Queued, so that a command finishing before the loop runs still ends it.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [c] { QCoreApplication::exit(c); },
                Qt::QueuedConnection);
        };
        auto keep = start(session, done);
        app.exec();
        (void)keep;
    }
    return code;
}

// A search on several adapters: one engine, socket and session for each.
int RunSearchOnSeveral(int argc, char** argv, int timeScale, const std::string& helper,
                       std::vector<std::string> adapters, bool all, const SearchOptions& options) {
    QCoreApplication app(argc, argv);
    std::vector<std::unique_ptr<PlatformServices>> services;
    std::vector<std::unique_ptr<Session>> sessions;
    const auto add = [&] {
        services.push_back(
            CreatePlatformServices(timeScale, helper.empty() ? DefaultNetProbePath() : helper));
        sessions.push_back(
            std::make_unique<Session>(services.back()->Environment(), std::cout, gErr));
    };
    add();
    int code = EXIT_FAILED;
    {
        CProtocol& engine = sessions[0]->Engine();
        if (all) adapters = SearchableAdapters(*sessions[0]);
        if (all && adapters.empty()) {
            std::cerr << "No network adapter with an IPv4 address was found.\n";
            return EXIT_FAILED;
        }
        if (!all) engine.EnumerateInterfaces(MacAddress{});
        // The same adapter named twice is searched once.
        std::vector<std::string> unique;
        std::vector<int> positions;
        for (const auto& a : adapters) {
            const int p = MatchInterface(engine.Interfaces(), a);
            if (p >= 0 && std::find(positions.begin(), positions.end(), p) != positions.end())
                continue;
            positions.push_back(p);
            unique.push_back(a);
        }
        while (sessions.size() < unique.size()) add();
        std::vector<Session*> raw;
        for (auto& s : sessions) raw.push_back(s.get());
        auto keep = RunSearchOnEach(raw, unique, options, [&code](int c) {
            code = c;
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [c] { QCoreApplication::exit(c); },
                Qt::QueuedConnection);
        });
        app.exec();
    }
    sessions.clear();  // before the services they run on
    return code;
}

Format FormatOf(bool json, bool csv) {
    return json ? Format::Json : csv ? Format::Csv : Format::Text;
}

int RefuseOversize(const std::string& input, const char* what) {
    std::cerr << input << ": larger than " << kMaxTextInputText << "; nothing was " << what << '\n';
    return EXIT_REFUSED;
}

int Decode(const std::string& input, bool json, const std::string& pcMacText) {
    std::optional<MacAddress> pcMac;
    if (!pcMacText.empty()) {
        MacAddress m{};
        if (!ParseMac(pcMacText, m)) {
            std::cerr << "decode --pc-mac: malformed MAC address: \"" << Printable(pcMacText)
                      << "\"\n";
            return EXIT_REFUSED;
        }
        pcMac = m;
    }
    const Format format = json ? Format::Json : Format::Text;
    std::ifstream file(input, std::ios::binary);
    const bool isFile = input != "-" && static_cast<bool>(file);
    if (isFile) {
        std::uint8_t magic[4] = {};
        file.read(reinterpret_cast<char*>(magic), sizeof magic);
        // By the magic number: a hex file may start with "0x", a blank or a line break.
        if (IsCaptureMagic({magic, static_cast<std::size_t>(file.gcount())})) {
            // Decoded and written as read: captures of any size stream through.
            DecodedWriter writer(std::cout, format);
            bool allValid = true;
            std::string error;
            const bool read = ReadCapture(
                input,
                [&](UdpPayload&& p) {
                    auto d = DecodeDatagram(p.payload, pcMac);
                    d.source = Ipv4Text(p.sourceIp) + ":" + std::to_string(p.sourcePort) + " -> " +
                               Ipv4Text(p.destinationIp) + ":" + std::to_string(p.destinationPort);
                    allValid = allValid && d.valid;
                    writer.Add(d);
                },
                error);
            writer.Finish();
            if (!read) {
                std::cerr << input << ": " << error << '\n';
                return EXIT_FAILED;
            }
            if (writer.Count() == 0) std::cerr << input << ": no datagrams on ports 10669/10670\n";
            return allValid ? EXIT_OK : EXIT_REFUSED;
        }
        file.clear();
        file.seekg(0);
    }

    std::vector<DecodedDatagram> decoded;
    const auto decodeHex = [&](const std::string& hex) {
        std::vector<std::uint8_t> bytes;
        std::string error;
        if (!ParseHex(hex, bytes, error)) {
            std::cerr << "malformed hex: " << error << '\n';
            return false;
        }
        decoded.push_back(DecodeDatagram(bytes, pcMac));
        return true;
    };
    if (isFile || input == "-") {
        std::string text;
        if (ReadBoundedText(isFile ? static_cast<std::istream&>(file) : std::cin, kMaxTextInput,
                            text) == TextRead::TooLarge)
            return RefuseOversize(input, "decoded");
        // One datagram per line.
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
            if (!decodeHex(line)) return EXIT_REFUSED;
        }
        if (decoded.empty()) {
            // An empty file or input (or a directory) has nothing to decode, like "".
            std::cerr << input << ": no hex datagrams\n";
            return EXIT_REFUSED;
        }
    } else if (!decodeHex(input)) {
        return EXIT_REFUSED;
    }
    WriteDecoded(std::cout, decoded, format);
    for (const auto& d : decoded) {
        if (!d.valid) return EXIT_REFUSED;
    }
    return EXIT_OK;
}

}  // namespace

int valdrune::cli::CliMain(int argc, char** argv, int timeScale, const std::string& probeHelper) {
    PrepareStandardStreams();
    {
        // Names of devices without UTF-8 are in the code page of the user's language.
        std::vector<std::string> languages;
        for (const QString& l : QLocale::system().uiLanguages())
            languages.push_back(l.toStdString());
        const unsigned codePage = AnsiCodePageFor(LanguageFromPreferenceList(languages));
        SetAnsiDecoder([codePage](std::string_view bytes) { return AnsiToUtf8(bytes, codePage); });
    }
    CLI::App app{
        "Finds and configures network cameras on the local segment.\n"
        "Messages go to standard error, data to standard output.",
        "valdrune-cli"};
    app.footer(ExitCodeHelp());
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("valdrune-cli ") + VALDRUNE_VERSION);

    std::string interface;
    bool json = false, csv = false;

    auto* interfaces = app.add_subcommand("interfaces", "List the adapters with an IPv4 address");
    interfaces->add_option("--interface,-i", interface,
                           "Mark the adapter this name, MAC or IPv4 selects");
    interfaces->add_flag("--json", json, "JSON output");
    interfaces->add_flag("--csv", csv, "CSV output")->excludes("--json");

    SearchOptions searchOptions;
    auto* search = app.add_subcommand(
        "search", "Search (one 8 s cycle unless told otherwise) and print a table of the devices");
    std::vector<std::string> searchAdapters;
    bool allInterfaces = false;
    auto* searchAdapterOption = search->add_option(
        "--interface,-i", searchAdapters,
        "Adapter: name, MAC or IPv4 (default: the first); more than once for several at once");
    search
        ->add_flag("--all-interfaces", allInterfaces,
                   "Search on every adapter at once, with an adapter column")
        ->excludes(searchAdapterOption);
    search->add_flag("--json", json, "JSON output: an array of device objects");
    search->add_flag("--csv", csv, "CSV output with a header row")->excludes("--json");
    search->add_flag("--watch", searchOptions.watch,
                     "Keep searching; print devices as they appear and change");
    bool wide = false, longForm = false;
    auto* wideFlag = search->add_flag("--wide", wide, "Table with every address and code");
    search->add_flag("--long", longForm, "One block of every field per device")
        ->excludes(wideFlag)
        ->excludes("--json")
        ->excludes("--csv");
    wideFlag->excludes("--json")->excludes("--csv");
    std::map<std::string, std::string> searchNumbers;
    for (const auto& [name, help] : std::map<std::string, std::string>{
             {"timeout", "Seconds to collect answers (default: 8 for each cycle)"},
             {"cycles",
              "Search cycles of 8 s one after another; more reach devices on a lossy link"},
             {"expect", "Stop as soon as this many devices answered; fewer is status 7"}}) {
        search->add_option("--" + name, searchNumbers[name], help)->excludes("--watch");
    }

    SetOptions setOptions;
    std::string mac;
    std::map<std::string, std::string> fields;
    bool dhcp = false, isStatic = false, autoMode = false, autoIp = false, pcDhcp = false;
    bool noWait = false;
    auto* set = app.add_subcommand("set", "Change one device's network settings");
    set->add_option("MAC", mac, "The device's MAC address (AA-BB-CC-DD-EE-FF)")->required();
    set->add_option("--interface,-i", setOptions.interface, "Adapter: name, MAC or IPv4");
    auto* m1 = set->add_flag("--dhcp", dhcp, "DHCP (two-port: on the LAN port)");
    auto* m2 = set->add_flag("--static", isStatic, "Static address (two-port: both ports manual)");
    auto* m3 = set->add_flag("--auto", autoMode, "Auto (Advanced); Auto for legacy devices");
    auto* m4 = set->add_flag("--autoip", autoIp, "Auto (AutoIP)");
    auto* m5 = set->add_flag("--pc-dhcp", pcDhcp, "Two-port: DHCP on the PC port");
    for (auto* a : {m1, m2, m3, m4, m5}) {
        for (auto* b : {m1, m2, m3, m4, m5}) {
            if (a != b) a->excludes(b);
        }
    }
    for (const char* name :
         {"ip", "mask", "gateway", "dns", "dns1", "dns2", "port", "pc-ip", "pc-mask"}) {
        static const std::map<std::string, std::string> help = {
            {"ip", "IPv4 address (with --static)"},
            {"mask", "Subnet mask (with --static)"},
            {"gateway", "Default gateway (with --static)"},
            {"dns", "DNS mode: auto or manual"},
            {"dns1", "Primary DNS server"},
            {"dns2", "Secondary DNS server"},
            {"port", "HTTP port"},
            {"pc-ip", "Two-port: PC-port address"},
            {"pc-mask", "Two-port: PC-port subnet mask"}};
        set->add_option(std::string("--") + name, fields[name], help.at(name));
    }
    set->add_flag("--no-wait", noWait, "Do not wait for the device's restart");
    set->add_flag("--json", json, "Print the result (before, after, outcome) as JSON");
    set->add_flag("--dry-run", setOptions.dryRun,
                  "Print the settings datagram in hex instead of sending it");

    ApplyOptions applyOptions;
    std::string planPath;
    auto* apply = app.add_subcommand("apply", "Apply a CSV plan of many devices, several at once");
    apply
        ->add_option(
            "PLAN", planPath,
            "CSV file: header row mac,mode,ip,mask,gateway,dns,dns1,dns2,port,pc-ip,pc-mask")
        ->required();
    apply->add_option("--interface,-i", applyOptions.interface, "Adapter: name, MAC or IPv4");
    apply->add_flag("--dry-run", applyOptions.dryRun,
                    "Validate only (rules, conflicts, probes); send nothing");
    apply->add_flag("--json", json, "JSON report");
    std::string parallel, down;
    apply
        ->add_option("--parallel", parallel,
                     "Devices talked to at once (1-100, default 16; 1 keeps the plan's order)")
        ->type_name("N");
    apply
        ->add_option("--down", down,
                     "Devices away restarting at once (1-100; default no bound, or N with "
                     "--parallel 1 or --stop-on-failure)")
        ->type_name("M");
    apply->add_flag("--stop-on-failure", applyOptions.stopOnFailure,
                    "After a device fails, start no further device");

    std::string probeAddress;
    auto* probe = app.add_subcommand("probe", "Send one ICMP echo and print its outcome");
    probe->add_option("IPV4", probeAddress, "Address to probe")->required();

    std::string decodeInput, pcMac;
    auto* decode =
        app.add_subcommand("decode", "Validate and decode datagrams from hex or a capture file");
    decode
        ->add_option("INPUT", decodeInput,
                     "Hex text, a file of hex lines, a pcap/pcapng file, or - for standard input")
        ->required();
    decode->add_flag("--json", json, "JSON output");
    decode->add_option("--pc-mac", pcMac, "The PC adapter's MAC for the requester check");

    std::string doctorAdapter;
    auto* doctor = app.add_subcommand("doctor", "Check why a search may find nothing");
    doctor->add_option("--interface,-i", doctorAdapter,
                       "Adapter: name, MAC or IPv4 (default: the one a search uses)");
    doctor->add_flag("--json", json, "JSON output");

    ReachOptions reachOptions;
    auto* reach = app.add_subcommand(
        "reach", "Make a device outside every adapter's subnet reachable until stopped (root or "
                 "administrator rights)");
    reach->add_option("MAC", reachOptions.macText, "The device's MAC address")->required();
    reach->add_option("--interface,-i", reachOptions.interface, "Adapter: name, MAC or IPv4");

    for (auto* sub : {interfaces, search, set, apply, probe, decode, doctor, reach})
        sub->footer(ExitCodeHelp());

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return EXIT_USAGE;
    }

    if (*decode) return Decode(decodeInput, json, pcMac);
    if (*doctor) {
        auto services = CreatePlatformServices(
            timeScale, probeHelper.empty() ? DefaultNetProbePath() : probeHelper);
        return RunDoctor(services->host, services->survey, doctorAdapter,
                         json ? Format::Json : Format::Text, std::cout, std::cerr);
    }

    if (*reach) {
        if (!ParseMac(reachOptions.macText, reachOptions.mac)) {
            std::cerr << "malformed MAC address: \"" << reachOptions.macText << "\"\n";
            return EXIT_REFUSED;
        }
        reachOptions.macText = MacText(reachOptions.mac);
        const std::unique_ptr<IReachRoutes> hostRoutes = CreateReachRoutes();
        if (!hostRoutes) {
            std::cerr << "reach is not available on this system yet.\n";
            return EXIT_FAILED;
        }
        IReachRoutes& routes = *hostRoutes;
        HoldStopRequests();
        ReachOutcome outcome;
        const int code =
            RunOnEventLoop(argc, argv, timeScale, probeHelper, [&](Session& s, auto done) {
                RunReach(s, routes, reachOptions, [&outcome, done](ReachOutcome o) {
                    outcome = o;
                    done(o.exitCode);
                });
                return 0;
            });
        if (outcome.entry) return HoldUntilStopped(routes, outcome, std::cout, std::cerr);
        if (!outcome.url.empty()) std::cout << outcome.url << '\n';
        return code;
    }
    if (*interfaces) {
        return RunOnEventLoop(argc, argv, timeScale, probeHelper, [&](Session& s, auto done) {
            done(RunInterfaces(s, interface, FormatOf(json, csv)));
            return 0;
        });
    }
    if (*search) {
        for (const auto& [name, value] : searchNumbers) {
            std::string error;
            if (search->get_option("--" + name)->count() == 0) continue;
            if (!SetSearchOption(searchOptions, name, value, error)) {
                std::cerr << error << '\n';
                return EXIT_REFUSED;
            }
        }
        searchOptions.progress = ProgressLine();
        if (searchOptions.watch && (allInterfaces || searchAdapters.size() > 1)) {
            std::cerr << "search --watch: give one adapter, not several\n";
            return EXIT_USAGE;
        }
        searchOptions.format = json       ? Format::Json
                               : csv      ? Format::Csv
                               : longForm ? Format::Text
                               : wide     ? Format::Wide
                                          : Format::Table;
        if (searchOptions.watch) {
            // Watching ends when the user stops it; every line is already flushed.
            auto stop = [](int) { _exit(EXIT_OK); };
            std::signal(SIGINT, stop);
            std::signal(SIGTERM, stop);
        }
        searchOptions.adapterColumn = allInterfaces || searchAdapters.size() > 1;
        if (searchOptions.adapterColumn)
            return RunSearchOnSeveral(argc, argv, timeScale, probeHelper, searchAdapters,
                                      allInterfaces, searchOptions);
        if (!searchAdapters.empty()) searchOptions.interface = searchAdapters[0];
        return RunOnEventLoop(argc, argv, timeScale, probeHelper, [&](Session& s, auto done) {
            return RunSearch(s, searchOptions, done);
        });
    }
    if (*set) {
        std::string error;
        SetRequest& q = setOptions.request;
        bool ok = SetField(q, "mac", mac, error);
        if (ok) {
            if (dhcp) q.mode = ModeChoice::Dhcp;
            if (isStatic) q.mode = ModeChoice::Static;
            if (autoMode) q.mode = ModeChoice::Auto;
            if (autoIp) q.mode = ModeChoice::AutoIp;
            if (pcDhcp) q.mode = ModeChoice::PcDhcp;
            for (const auto& [name, value] : fields) {
                auto* option = set->get_option("--" + name);
                if (option->count() == 0) continue;
                if (!SetField(q, name, value, error)) {
                    ok = false;
                    break;
                }
            }
        }
        if (!ok) {
            std::cerr << "set: " << Printable(error) << '\n';
            return EXIT_REFUSED;
        }
        q.waitForRestart = !noWait;
        setOptions.format = json ? Format::Json : Format::Text;
        setOptions.progress = ProgressLine();
        return RunOnEventLoop(argc, argv, timeScale, probeHelper, [&](Session& s, auto done) {
            RunSet(s, setOptions, done);
            return 0;
        });
    }
    if (*apply) {
        std::string text;
        std::ifstream plan(planPath, std::ios::binary);
        const TextRead read = ReadBoundedText(plan, kMaxTextInput, text);
        if (read == TextRead::TooLarge) return RefuseOversize(planPath, "applied");
        if (read != TextRead::Ok) {
            std::cerr << planPath << ": cannot be read\n";
            return EXIT_FAILED;
        }
        for (auto [option, given, into] :
             {std::tuple{"--parallel", &parallel, &applyOptions.parallel},
              std::tuple{"--down", &down, &applyOptions.down}}) {
            if (given->empty()) continue;
            const bool digits = given->size() <= 3 &&
                                given->find_first_not_of("0123456789") == std::string::npos;
            const int n = digits ? std::stoi(*given) : 0;
            if (n < 1 || n > 100) {
                std::cerr << "apply " << option << ": \"" << Printable(*given)
                          << "\" is not a number of devices from 1 to 100\n";
                return EXIT_REFUSED;
            }
            *into = n;
        }
        applyOptions.plan = ParsePlan(text);
        applyOptions.format = json ? Format::Json : Format::Text;
        applyOptions.progress = ProgressLine();
        return RunOnEventLoop(argc, argv, timeScale, probeHelper, [&](Session& s, auto done) {
            return RunApply(s, applyOptions, done);
        });
    }
    if (*probe) {
        std::uint32_t address = 0;
        if (!ParseIpv4(probeAddress, address)) {
            std::cerr << "probe: malformed IPv4 address: \"" << Printable(probeAddress) << "\"\n";
            return EXIT_REFUSED;
        }
        return RunOnEventLoop(argc, argv, timeScale, probeHelper, [&](Session& s, auto done) {
            RunProbe(s, address, done);
            return 0;
        });
    }
    return EXIT_USAGE;
}

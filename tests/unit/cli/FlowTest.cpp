#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/ExitCodes.h"
#include "tests/support/CaseNames.h"
#include "tests/unit/cli/CliRig.h"

namespace valdrune::cli::test {
namespace {

SetOptions Static(const MacAddress& mac, const char* ip) {
    SetOptions o;
    std::string error;
    EXPECT_TRUE(SetField(o.request, "mac", MacText(mac), error));
    EXPECT_TRUE(SetField(o.request, "mode", "static", error));
    EXPECT_TRUE(SetField(o.request, "ip", ip, error));
    return o;
}

TEST(SetCommand, ChangesAStandardDeviceAndWaitsForItsRestart) {
    CliRig rig;
    FakeDevice& dev = rig.AddDevice(1, DEVICE_KIND_STANDARD, "192.168.0.20");
    rig.Set(Static(dev.record.primary.mac, "192.168.0.30"));
    ASSERT_TRUE(rig.exitCode);
    EXPECT_EQ(*rig.exitCode, EXIT_OK) << rig.err.str();
    EXPECT_EQ(rig.devices[0].record.primary.ipAddress, Ip("192.168.0.30"));
    EXPECT_EQ(rig.devices[0].settingsSeen, 3);  // sent three times
    EXPECT_EQ(rig.SentWithCommand(CMD_SETUP_V2_CONFIRM), 3u);
    EXPECT_NE(rig.err.str().find("Device settings completed."), std::string::npos);
    EXPECT_NE(rig.err.str().find("Changes: ipv4 192.168.0.20 -> 192.168.0.30."), std::string::npos);
    // Back after its 40 s restart, found by the restart wait's searches from 30 s on.
    EXPECT_GT(rig.clock.Now(), Milliseconds{40000});
}

// After a completed change "after" is what the device reported when it came back; a two-port
// device is done on acceptance and not seen since, so there it is what was sent.
class SetJson : public ::testing::TestWithParam<std::uint8_t> {};

TEST_P(SetJson, ReportsBeforeAfterAndOutcome) {
    CliRig rig;
    FakeDevice& dev = rig.AddDevice(1, GetParam(), "192.168.0.20");
    SetOptions o = Static(dev.record.primary.mac, "192.168.0.30");
    o.format = Format::Json;
    rig.Set(o);
    ASSERT_EQ(rig.exitCode, EXIT_OK) << rig.err.str();
    const auto j = nlohmann::json::parse(rig.out.str());
    EXPECT_EQ(j["message_id"], 441);
    EXPECT_EQ(j["before"]["ipv4"], "192.168.0.20");
    EXPECT_EQ(j["after"]["ipv4"], "192.168.0.30");
}

INSTANTIATE_TEST_SUITE_P(Kinds, SetJson,
                         ::testing::Values(DEVICE_KIND_STANDARD, DEVICE_KIND_TWO_PORT),
                         [](const auto& c) {
                             return c.param == DEVICE_KIND_STANDARD ? "Standard" : "TwoPort";
                         });

struct SentCase {
    const char* name;
    std::uint8_t kind;
    const char* shown;   // a field this kind's settings request carries
    const char* hidden;  // one it does not carry
};

class SetShowsWhatIsSent : public ::testing::TestWithParam<SentCase> {};

TEST_P(SetShowsWhatIsSent, BeforeAndAfterHoldOnlyTheFieldsOfTheRequest) {
    const SentCase& c = GetParam();
    CliRig rig;
    FakeDevice& dev = rig.AddDevice(1, c.kind, "192.168.0.20");
    SetOptions o = Static(dev.record.primary.mac, "192.168.0.30");
    o.format = Format::Json;
    o.dryRun = true;
    rig.Set(o);
    ASSERT_EQ(rig.exitCode, EXIT_OK) << rig.err.str();
    const auto j = nlohmann::json::parse(rig.out.str());
    for (const char* side : {"before", "after"}) {
        EXPECT_TRUE(j[side].contains(c.shown)) << side;
        EXPECT_FALSE(j[side].contains(c.hidden)) << side;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SetShowsWhatIsSent,
    ::testing::Values(SentCase{"Standard", DEVICE_KIND_STANDARD, "ipv4_mode", "legacy_addressing"},
                      SentCase{"Legacy", DEVICE_KIND_LEGACY, "legacy_addressing", "ipv4_mode"},
                      SentCase{"TwoPort", DEVICE_KIND_TWO_PORT, "pc_ipv4", "legacy_addressing"}),
    valdrune::test::ByName{});

TEST(SetCommand, NoWaitEndsRightAfterAcceptance) {
    CliRig rig;
    FakeDevice& dev = rig.AddDevice(1, DEVICE_KIND_STANDARD, "192.168.0.20");
    SetOptions o = Static(dev.record.primary.mac, "192.168.0.30");
    o.request.waitForRestart = false;
    rig.Set(o);
    ASSERT_TRUE(rig.exitCode);
    EXPECT_EQ(*rig.exitCode, EXIT_OK);
    EXPECT_NE(rig.err.str().find("Device settings sent. Device restarting."), std::string::npos);
    EXPECT_LT(rig.clock.Now(), Milliseconds{5000});
}

TEST(SetCommand, AddressInUseSendsNothing) {
    CliRig rig;
    FakeDevice& dev = rig.AddDevice(1, DEVICE_KIND_STANDARD, "192.168.0.20");
    rig.AddDevice(2, DEVICE_KIND_STANDARD, "192.168.0.21");
    rig.Set(Static(dev.record.primary.mac, "192.168.0.21"));
    ASSERT_TRUE(rig.exitCode);
    EXPECT_EQ(*rig.exitCode, EXIT_CONFLICT) << rig.err.str();
    EXPECT_EQ(rig.SentWithCommand(CMD_SETUP_V2), 0u);
    EXPECT_NE(rig.err.str().find("IPv4 addresses overlapped. Nothing was sent."),
              std::string::npos);
    EXPECT_EQ(rig.err.str().find("Sending device settings."), std::string::npos);
}

TEST(SetCommand, ProbeThatCannotRunIsNotTakenForNoConflict) {
    CliRig rig;
    FakeDevice& dev = rig.AddDevice(1, DEVICE_KIND_STANDARD, "192.168.0.20");
    rig.prober.SetPermitted(false);
    rig.Set(Static(dev.record.primary.mac, "192.168.0.30"));
    ASSERT_TRUE(rig.exitCode);
    EXPECT_EQ(*rig.exitCode, EXIT_CANNOT_PROBE);
    EXPECT_EQ(rig.SentWithCommand(CMD_SETUP_V2), 0u);
}

TEST(SetCommand, DryRunWhoseProbeCannotRunDoesNotReportSuccess) {
    CliRig rig;
    rig.session->SetRights({.probe = "Grant P."});
    FakeDevice& dev = rig.AddDevice(1, DEVICE_KIND_STANDARD, "192.168.0.20");
    rig.prober.SetPermitted(false);
    SetOptions o = Static(dev.record.primary.mac, "192.168.0.30");
    o.dryRun = true;
    rig.Set(o);
    ASSERT_TRUE(rig.exitCode);
    EXPECT_EQ(*rig.exitCode, EXIT_CANNOT_PROBE);
    EXPECT_NE(rig.err.str().find("Nothing was sent. Grant P."), std::string::npos);
    EXPECT_EQ(rig.SentWithCommand(CMD_SETUP_V2), 0u);
}

struct RefusedCase {
    const char* name;
    std::uint8_t kind;
    const char* field;
    const char* value;
    const char* text;  // part of the message
};

class SetRefusal : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(SetRefusal, PrintsTheMessageAndSendsNoSettings) {
    const RefusedCase& c = GetParam();
    CliRig rig;
    FakeDevice& dev = rig.AddDevice(1, c.kind, "192.168.0.20");
    SetOptions o;
    std::string error;
    ASSERT_TRUE(SetField(o.request, "mac", MacText(dev.record.primary.mac), error));
    ASSERT_TRUE(SetField(o.request, c.field, c.value, error)) << error;
    rig.Set(o);
    ASSERT_TRUE(rig.exitCode);
    EXPECT_EQ(*rig.exitCode, EXIT_REFUSED);
    EXPECT_EQ(rig.SentWithCommand(CMD_SETUP_V2) + rig.SentWithCommand(CMD_SETUP), 0u);
    EXPECT_NE(rig.err.str().find(c.text), std::string::npos) << rig.err.str();
}

INSTANTIATE_TEST_SUITE_P(
    Table, SetRefusal,
    ::testing::Values(RefusedCase{"StandardPort", 48, "port", "554", "Port no. 554 cannot be set."},
                      RefusedCase{"LegacyPort", 3, "port", "0", "Port no. 0 cannot be set."},
                      RefusedCase{"EmptyPort", 48, "port", "", "Enter the Port no."},
                      RefusedCase{"Mask", 48, "mask", "255.0.255.0",
                                  "Subnet mask (255.0.255.0) cannot be set."},
                      RefusedCase{"Gateway", 48, "gateway", "192.168.1.1",
                                  "The addresses entered cannot be used together."},
                      RefusedCase{"LegacyHasNoDnsMode", 3, "dns", "auto", "no DNS mode"},
                      RefusedCase{"PcDhcpOnSinglePort", 48, "mode", "pc-dhcp", "does not offer"}),
    valdrune::test::ByName{});


TEST(SetCommand, UnknownDeviceIsNotFoundAfterOneCycle) {
    CliRig rig;
    rig.AddDevice(1, DEVICE_KIND_STANDARD, "192.168.0.20");
    rig.Set(Static(Mac(9), "192.168.0.30"));
    EXPECT_EQ(rig.exitCode, EXIT_NOT_FOUND);
    EXPECT_EQ(rig.SentWithCommand(CMD_SEARCH), 5u);
    EXPECT_LE(rig.clock.Now(), Milliseconds{8100});
}

// A device that is locked, never accepts or never comes back ends the change with its own code
// and says why.
struct FailureCase {
    const char* name;
    void (*make)(FakeDevice&);
    int exitCode;
    const char* text;
};

class SetFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(SetFailure, EndsWithItsCodeAndSaysWhy) {
    CliRig rig;
    FakeDevice& dev = rig.AddDevice(1, DEVICE_KIND_STANDARD, "192.168.0.20");
    GetParam().make(dev);
    rig.Set(Static(dev.record.primary.mac, "192.168.0.30"));
    EXPECT_EQ(rig.exitCode, GetParam().exitCode);
    EXPECT_NE(rig.err.str().find(GetParam().text), std::string::npos) << rig.err.str();
}

INSTANTIATE_TEST_SUITE_P(
    Table, SetFailure,
    ::testing::Values(
        FailureCase{"LockedDeviceIsRefusedWith443", [](FakeDevice& d) { d.record.statusBits = 1; },
                    EXIT_REFUSED, "over 20 minutes after restart"},
        FailureCase{"SilentDeviceTimesOutWith439", [](FakeDevice& d) { d.accepts = false; },
                    EXIT_TIMEOUT, "did not accept the settings within 30 s"},
        FailureCase{"DeviceThatStaysAwayEndsWith440", [](FakeDevice& d) { d.comesBack = false; },
                    EXIT_NOT_BACK, "did not answer a search within 120 s"}),
    valdrune::test::ByName());

TEST(SetCommand, TwoPortDeviceIsDoneOnAcceptance) {
    CliRig rig;
    FakeDevice& dev = rig.AddDevice(1, DEVICE_KIND_TWO_PORT, "192.168.0.20");
    rig.Set(Static(dev.record.primary.mac, "192.168.0.30"));
    EXPECT_EQ(rig.exitCode, EXIT_OK) << rig.err.str();
    EXPECT_EQ(rig.SentWithCommand(CMD_SETUP), 3u);
    EXPECT_EQ(rig.err.str().find("Restarting device."), std::string::npos);
}

TEST(SetCommand, DryRunPrintsTheDatagramItWouldSendAndSendsNone) {
    CliRig rig;
    FakeDevice& dev = rig.AddDevice(1, DEVICE_KIND_LEGACY, "192.168.0.20");
    SetOptions o = Static(dev.record.primary.mac, "192.168.0.30");
    o.dryRun = true;
    rig.Set(o);
    ASSERT_EQ(rig.exitCode, EXIT_OK) << rig.err.str();
    EXPECT_EQ(rig.SentWithCommand(CMD_SETUP), 0u);
    // Same options for real: the first settings datagram on the wire has the printed bytes.
    CliRig real;
    real.AddDevice(1, DEVICE_KIND_LEGACY, "192.168.0.20");
    real.Set(Static(dev.record.primary.mac, "192.168.0.30"));
    const auto sent = real.transport.SentWithCommand(CMD_SETUP);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(rig.out.str(), Hex(sent[0].bytes.data(), sent[0].bytes.size()) + "\n");
}

TEST(SearchCommand, JsonListsEveryDeviceWithOverlaps) {
    CliRig rig;
    rig.AddDevice(1, DEVICE_KIND_STANDARD, "192.168.0.20");
    rig.AddDevice(2, DEVICE_KIND_LEGACY, "192.168.0.20");
    rig.AddDevice(3, DEVICE_KIND_TWO_PORT, "192.168.0.23");
    SearchOptions o;
    o.format = Format::Json;
    auto keep = RunSearch(*rig.session, o, rig.Finish());
    rig.Run();
    ASSERT_EQ(rig.exitCode, EXIT_OK);
    const auto j = nlohmann::json::parse(rig.out.str());
    ASSERT_EQ(j.size(), 3u);
    EXPECT_EQ(j[0]["kind_name"], "legacy");  // table order is MAC text order
    EXPECT_EQ(j[0]["overlaps"], nlohmann::json::array({MacText(Mac(1, 48))}));
    EXPECT_EQ(j[1]["kind_name"], "two-port");
    EXPECT_TRUE(j[1]["overlaps"].empty());
    EXPECT_EQ(j[2]["ipv4"], "192.168.0.20");
    EXPECT_EQ(rig.clock.Now() >= Milliseconds{8000}, true);
}

TEST(InterfacesCommand, LeavesOutLoopback) {
    CliRig rig;
    rig.host.Add("127.0.0.1", 1, "lo (loopback)", {}, "");
    for (const Format format : {Format::Text, Format::Json, Format::Csv}) {
        rig.out.str("");
        EXPECT_EQ(RunInterfaces(*rig.session, "", format), EXIT_OK);
        EXPECT_EQ(rig.out.str().find("127.0.0.1"), std::string::npos) << rig.out.str();
        EXPECT_NE(rig.out.str().find("192.168.0.10"), std::string::npos);
    }
}

// Devices without a capability level name themselves in the user's code page; every output
// stays UTF-8 whether or not a converter is at hand.
TEST(SearchCommand, NamesInTheUsersCodePageAreConvertedForEveryOutput) {
    for (const bool converter : {true, false}) {
        // Latin-1 stands in for the platform's converter here; the real ones have their own test.
        SetAnsiDecoder(!converter ? AnsiDecoder{} : [](std::string_view b) {
            std::string out;
            for (unsigned char c : b) {
                if (c < 0x80) {
                    out += static_cast<char>(c);
                } else {
                    out += static_cast<char>(0xC0 | c >> 6);
                    out += static_cast<char>(0x80 | (c & 0x3F));
                }
            }
            return out;
        });
        for (const Format format : {Format::Json, Format::Csv, Format::Table}) {
            CliRig rig;
            FakeDevice& dev = rig.AddDevice(1, DEVICE_KIND_STANDARD, "192.168.0.20");
            dev.record.capabilityFlag = 0;
            SetFieldText(dev.record.deviceName, "Cam\xE9");
            SearchOptions o;
            o.format = format;
            auto keep = RunSearch(*rig.session, o, rig.Finish());
            rig.Run();
            ASSERT_EQ(rig.exitCode, EXIT_OK);
            const std::string out = rig.out.str();
            if (format == Format::Json) {
                const auto j = nlohmann::json::parse(out);  // throws on invalid UTF-8
                EXPECT_EQ(j[0]["name"], converter ? "Cam\xC3\xA9" : "Cam\xEF\xBF\xBD");
            } else {
                EXPECT_NE(out.find(converter ? "Cam\xC3\xA9" : "Cam\\xe9"), std::string::npos)
                    << out;
            }
        }
    }
    SetAnsiDecoder({});
}

TEST(SearchCommand, SaysHowManyDevicesTheFullTableLeftOut) {
    CliRig rig;
    for (int i = 0; i < 150; ++i) {
        rig.AddDevice(
            static_cast<std::uint8_t>(i), DEVICE_KIND_STANDARD,
            ("192.168." + std::to_string(1 + i / 200) + "." + std::to_string(1 + i % 200)).c_str());
    }
    SearchOptions o;
    o.format = Format::Json;
    auto keep = RunSearch(*rig.session, o, rig.Finish());
    rig.Run();
    ASSERT_EQ(rig.exitCode, EXIT_OK);
    EXPECT_EQ(nlohmann::json::parse(rig.out.str()).size(), 100u);
    EXPECT_NE(rig.err.str().find("full at 100 devices; 50 more devices answered"),
              std::string::npos)
        << rig.err.str();
}

struct SearchLengthCase {
    const char* name;
    std::vector<std::pair<const char*, const char*>> options;
    int exitCode;
    std::size_t requests;  // search requests sent
    Milliseconds endsAt;   // when the command ended
};

class SearchLength : public ::testing::TestWithParam<SearchLengthCase> {};

TEST_P(SearchLength, EndsWhenItsCyclesTimeOrExpectationSay) {
    const SearchLengthCase& c = GetParam();
    CliRig rig;
    rig.AddDevice(1, DEVICE_KIND_STANDARD, "192.168.0.20");
    rig.AddDevice(2, DEVICE_KIND_LEGACY, "192.168.0.21");
    SearchOptions o;
    std::string error;
    for (const auto& [name, value] : c.options) ASSERT_TRUE(SetSearchOption(o, name, value, error));
    auto keep = RunSearch(*rig.session, o, rig.Finish());
    rig.Run();
    ASSERT_TRUE(rig.exitCode);
    EXPECT_EQ(*rig.exitCode, c.exitCode) << rig.err.str();
    EXPECT_EQ(rig.SentWithCommand(CMD_SEARCH), c.requests);
    EXPECT_EQ(rig.clock.Now() / 10, c.endsAt / 10);  // the rig's 10 ms steps
}

INSTANTIATE_TEST_SUITE_P(
    Options, SearchLength,
    ::testing::Values(
        SearchLengthCase{"OneCycle", {}, EXIT_OK, 5, Milliseconds{8000}},
        SearchLengthCase{"TwoCycles", {{"cycles", "2"}}, EXIT_OK, 10, Milliseconds{16000}},
        SearchLengthCase{"ShortTimeout", {{"timeout", "2.5"}}, EXIT_OK, 3, Milliseconds{2500}},
        SearchLengthCase{
            "ListensPastTheCycle", {{"timeout", "12"}}, EXIT_OK, 5, Milliseconds{12000}},
        SearchLengthCase{"ExpectationMet", {{"expect", "2"}}, EXIT_OK, 1, Milliseconds{20}},
        SearchLengthCase{"ExpectationMissed",
                         {{"expect", "3"}, {"cycles", "2"}},
                         EXIT_NOT_FOUND,
                         10,
                         Milliseconds{16000}}),
    valdrune::test::ByName{});

struct OptionRefusal {
    const char* name;
    const char* option;
    const char* value;
};

class SearchOptionRefusal : public ::testing::TestWithParam<OptionRefusal> {};

TEST_P(SearchOptionRefusal, NamesTheOptionAndTheValue) {
    SearchOptions o;
    std::string error;
    EXPECT_FALSE(SetSearchOption(o, GetParam().option, GetParam().value, error));
    EXPECT_NE(error.find(std::string("--") + GetParam().option + ": \"" + GetParam().value + "\""),
              std::string::npos)
        << error;
}

INSTANTIATE_TEST_SUITE_P(Values, SearchOptionRefusal,
                         ::testing::Values(OptionRefusal{"TimeoutWord", "timeout", "ten"},
                                           OptionRefusal{"TimeoutZero", "timeout", "0"},
                                           OptionRefusal{"TimeoutTwoDecimals", "timeout", "1.25"},
                                           OptionRefusal{"TimeoutOverAnHour", "timeout", "3601"},
                                           OptionRefusal{"TimeoutNegative", "timeout", "-1"},
                                           OptionRefusal{"CyclesZero", "cycles", "0"},
                                           OptionRefusal{"CyclesHuge", "cycles",
                                                         "99999999999999999999"},
                                           OptionRefusal{"ExpectFraction", "expect", "1.5"},
                                           OptionRefusal{"ExpectEmpty", "expect", ""}),
                         valdrune::test::ByName{});

TEST(SearchCommand, ProgressIsDrawnInPlaceAndWipedBeforeTheResult) {
    CliRig rig;
    rig.AddDevice(1, DEVICE_KIND_STANDARD, "192.168.0.20");
    std::ostringstream terminal;
    StatusLine line(terminal.rdbuf());
    SearchOptions o;
    o.progress = &line;
    auto keep = RunSearch(*rig.session, o, rig.Finish());
    rig.Run();
    ASSERT_EQ(rig.exitCode, EXIT_OK);
    const std::string shown = terminal.str();
    EXPECT_NE(shown.find("\rSearching: 4.0 s of 8.0 s, 1 device\x1b[K"), std::string::npos);
    EXPECT_EQ(shown.substr(shown.size() - 4), "\r\x1b[K");  // nothing left on the line
    EXPECT_EQ(rig.out.str().find('\r'), std::string::npos);
}

TEST(SearchCommand, UnknownInterfaceIsNotFound) {
    CliRig rig;
    SearchOptions o;
    o.interface = "wlan7";
    auto keep = RunSearch(*rig.session, o, rig.Finish());
    EXPECT_EQ(rig.exitCode, EXIT_NOT_FOUND);
    EXPECT_EQ(rig.SentWithCommand(CMD_SEARCH), 0u);
}

TEST(ProbeCommand, MapsTheEchoOutcomeToTheExitCode) {
    CliRig rig;
    rig.prober.SetResult(Ip("10.0.0.1"), ECHO_ANSWERED);
    RunProbe(*rig.session, Ip("10.0.0.1"), rig.Finish());
    rig.Run();
    EXPECT_EQ(rig.exitCode, EXIT_OK);
    rig.exitCode.reset();
    RunProbe(*rig.session, Ip("10.0.0.2"), rig.Finish());
    rig.Run();
    EXPECT_EQ(rig.exitCode, EXIT_NOT_FOUND);
    EXPECT_NE(rig.out.str().find("10.0.0.2 no answer (timed out)"), std::string::npos);
}

// ---- apply ----------------------------------------------------------------------------------

ApplyOptions PlanOf(const std::string& csv, bool dryRun = false) {
    ApplyOptions o;
    o.plan = ParsePlan(csv);
    o.dryRun = dryRun;
    o.format = Format::Json;
    return o;
}

TEST(ApplyCommand, AppliesDeviceByDeviceEachConfirmedBeforeTheNext) {
    CliRig rig;
    rig.AddDevice(1, DEVICE_KIND_STANDARD, "192.168.0.20");
    rig.AddDevice(2, DEVICE_KIND_LEGACY, "192.168.0.21");
    const std::string csv = "mac,mode,ip\n" + MacText(Mac(1, 48)) + ",static,192.168.0.40\n" +
                            MacText(Mac(2, 3)) + ",static,192.168.0.41\n";
    auto options = PlanOf(csv);
    options.parallel = 1;
    auto keep = RunApply(*rig.session, options, rig.Finish());
    rig.Run();
    ASSERT_EQ(rig.exitCode, EXIT_OK) << rig.err.str();
    const auto first = rig.transport.SentWithCommand(CMD_SETUP_V2);
    const auto second = rig.transport.SentWithCommand(CMD_SETUP);
    ASSERT_EQ(first.size(), 3u);
    ASSERT_EQ(second.size(), 3u);
    // The second device is only sent to after the first came back from its 40 s restart.
    EXPECT_GT(second[0].time, first[0].time + Milliseconds{40000});
    const auto j = nlohmann::json::parse(rig.out.str());
    EXPECT_EQ(j["devices"][0]["status"], "applied");
    EXPECT_EQ(j["devices"][0]["before"]["ipv4"], "192.168.0.20");
    EXPECT_EQ(j["devices"][0]["after"]["ipv4"], "192.168.0.40");
    EXPECT_EQ(j["devices"][1]["after"]["ipv4"], "192.168.0.41");
}

TEST(ApplyCommand, RestartingTwoPortDeviceIsConfirmedAtItsNewAddress) {
    CliRig rig;
    FakeDevice& dev = rig.AddDevice(1, DEVICE_KIND_TWO_PORT, "192.168.0.20");
    dev.twoPortRestarts = true;
    dev.restart = Milliseconds{35000};  // several search cycles
    const std::string csv =
        "mac,mode,ip\n" + MacText(dev.record.primary.mac) + ",static,192.168.0.40\n";
    auto keep = RunApply(*rig.session, PlanOf(csv), rig.Finish());
    rig.Run();
    ASSERT_EQ(rig.exitCode, EXIT_OK) << rig.err.str();
    const auto j = nlohmann::json::parse(rig.out.str());
    EXPECT_EQ(j["devices"][0]["after"]["ipv4"], "192.168.0.40");
    EXPECT_GT(rig.clock.Now(), Milliseconds{35000});
}

TEST(ApplyCommand, DryRunFindsInPlanDuplicatesAndAddressesInUseAndSendsNothing) {
    CliRig rig;
    rig.AddDevice(1, DEVICE_KIND_STANDARD, "192.168.0.20");
    rig.AddDevice(2, DEVICE_KIND_STANDARD, "192.168.0.21");
    rig.AddDevice(3, DEVICE_KIND_STANDARD, "192.168.0.22");
    rig.prober.SetResult(Ip("192.168.0.99"), ECHO_ANSWERED);  // some other host
    const std::string csv = "mac,mode,ip\n" + MacText(Mac(1, 48)) + ",static,192.168.0.50\n" +
                            MacText(Mac(2, 48)) + ",static,192.168.0.50\n" + MacText(Mac(3, 48)) +
                            ",static,192.168.0.99\n";
    auto keep = RunApply(*rig.session, PlanOf(csv, true), rig.Finish());
    rig.Run();
    ASSERT_EQ(rig.exitCode, EXIT_CONFLICT);
    EXPECT_EQ(rig.SentWithCommand(CMD_SETUP_V2), 0u);
    const auto j = nlohmann::json::parse(rig.out.str());
    EXPECT_EQ(j["devices"][0]["status"], "planned");
    EXPECT_EQ(j["devices"][1]["status"], "conflict");
    EXPECT_EQ(j["devices"][2]["status"], "conflict");
    EXPECT_EQ(j["devices"][2]["message_id"], 436);
}

ApplyOptions MoveAll(CliRig& rig, int count, bool dryRun) {
    std::string csv = "mac,mode,ip\n";
    for (int i = 0; i < count; ++i) {
        FakeDevice& d = rig.AddDevice(static_cast<std::uint8_t>(i + 1), DEVICE_KIND_STANDARD,
                                      ("192.168.0." + std::to_string(20 + i)).c_str());
        csv +=
            MacText(d.record.primary.mac) + ",static,192.168.0." + std::to_string(100 + i) + "\n";
    }
    return PlanOf(csv, dryRun);
}

TEST(ApplyCommand, ValidationProbesRunSideBySide) {
    CliRig rig;
    auto keep = RunApply(*rig.session, MoveAll(rig, 20, true), rig.Finish());
    rig.Run();
    ASSERT_EQ(rig.exitCode, EXIT_OK) << rig.err.str();
    EXPECT_EQ(rig.prober.Calls().size(), 60u);  // three attempts for each new address
    // One after another they would take 20 x 3 x 1.1 s; eight at a time, three rounds.
    EXPECT_LT(rig.clock.Now(), Milliseconds{8000 + 3 * 3400});
}

TEST(ApplyCommand, ProbesThatCannotRunEndTheValidation) {
    CliRig rig;
    rig.prober.SetPermitted(false);
    auto keep = RunApply(*rig.session, MoveAll(rig, 12, false), rig.Finish());
    rig.Run();
    ASSERT_EQ(rig.exitCode, EXIT_CANNOT_PROBE);
    EXPECT_EQ(rig.SentWithCommand(CMD_SETUP_V2), 0u);
}

TEST(ApplyCommand, StopsAtTheFirstFailureAndAppliesNothingAfterIt) {
    CliRig rig;
    FakeDevice& a = rig.AddDevice(1, DEVICE_KIND_STANDARD, "192.168.0.20");
    a.accepts = false;
    rig.AddDevice(2, DEVICE_KIND_STANDARD, "192.168.0.21");
    const std::string csv =
        "mac,port\n" + MacText(Mac(1, 48)) + ",8080\n" + MacText(Mac(2, 48)) + ",8080\n";
    auto options = PlanOf(csv);
    options.parallel = 1;
    options.stopOnFailure = true;
    auto keep = RunApply(*rig.session, options, rig.Finish());
    rig.Run();
    ASSERT_EQ(rig.exitCode, EXIT_TIMEOUT);
    EXPECT_EQ(rig.devices[1].settingsSeen, 0);
    const auto j = nlohmann::json::parse(rig.out.str());
    EXPECT_EQ(j["devices"][0]["status"], "failed");
    EXPECT_EQ(j["devices"][1]["status"], "not applied");
}

TEST(ApplyCommand, ChangesRunSideBySideAndTheReportShowsWhatTheFinalSearchSaw) {
    CliRig rig;
    rig.AddDevice(1, DEVICE_KIND_STANDARD, "192.168.0.20").accepts = false;
    rig.AddDevice(2, DEVICE_KIND_STANDARD, "192.168.0.21");
    rig.AddDevice(3, DEVICE_KIND_STANDARD, "192.168.0.22").keepsAddress = true;
    std::string csv = "mac,mode,ip\n";
    for (std::uint8_t i = 1; i <= 3; ++i)
        csv += MacText(Mac(i, 48)) + ",static,192.168.0." + std::to_string(40 + i) + "\n";
    auto keep = RunApply(*rig.session, PlanOf(csv), rig.Finish());
    rig.Run();
    // The device that came back with its old address is worse than the one that refused: it
    // is not taken for back, and its old address is what the final search reports.
    ASSERT_EQ(rig.exitCode, EXIT_NOT_BACK) << rig.err.str();
    const auto sent = rig.transport.SentWithCommand(CMD_SETUP_V2);
    ASSERT_EQ(sent.size(), 9u);
    EXPECT_LT(sent.back().time - sent.front().time, Milliseconds{1000}) << "all at once";
    const auto j = nlohmann::json::parse(rig.out.str());
    EXPECT_EQ(j["devices"][0]["status"], "failed");
    EXPECT_EQ(j["devices"][0]["message_id"], 439);
    EXPECT_EQ(j["devices"][1]["status"], "applied");
    EXPECT_EQ(j["devices"][1]["after"]["ipv4"], "192.168.0.42");
    EXPECT_EQ(j["devices"][2]["status"], "failed");
    EXPECT_EQ(j["devices"][2]["message_id"], 440);
    EXPECT_EQ(j["devices"][2]["after"]["ipv4"], "192.168.0.22") << "as the final search saw it";
}

TEST(ApplyCommand, StopOnFailureLetsRunningChangesEndAndStartsNoOther) {
    CliRig rig;
    rig.AddDevice(1, DEVICE_KIND_STANDARD, "192.168.0.20").accepts = false;
    rig.AddDevice(2, DEVICE_KIND_STANDARD, "192.168.0.21").restart = Milliseconds{50000};
    rig.AddDevice(3, DEVICE_KIND_STANDARD, "192.168.0.22");
    std::string csv = "mac,port\n";
    for (std::uint8_t i = 1; i <= 3; ++i) csv += MacText(Mac(i, 48)) + ",8080\n";
    auto options = PlanOf(csv);
    options.parallel = 2;
    options.stopOnFailure = true;
    auto keep = RunApply(*rig.session, options, rig.Finish());
    rig.Run();
    ASSERT_EQ(rig.exitCode, EXIT_TIMEOUT) << rig.err.str();
    EXPECT_EQ(rig.devices[2].settingsSeen, 0);
    const auto j = nlohmann::json::parse(rig.out.str());
    EXPECT_EQ(j["devices"][1]["status"], "applied") << "it was already running";
    EXPECT_EQ(j["devices"][2]["status"], "not applied");
}

// Reported back, but what the final search shows is not the plan: the report says so.
TEST(ApplyCommand, ADeviceTheFinalSearchDoesNotConfirmIsUnconfirmed) {
    CliRig rig;
    ApplyOptions o = MoveAll(rig, 3, false);
    // Each answers once with its new address, then is gone again or moved on by someone else.
    rig.devices[0].answered = [](FakeDevice& d) {
        d.back = d.record.primary.ipAddress != Ip("192.168.0.100");
    };
    rig.devices[1].answered = [](FakeDevice& d) {
        if (d.record.primary.ipAddress == Ip("192.168.0.101"))
            d.record.primary.ipAddress = Ip("192.168.0.77");
    };
    auto keep = RunApply(*rig.session, o, rig.Finish());
    rig.Run();
    ASSERT_EQ(rig.exitCode, EXIT_NOT_BACK) << rig.err.str();
    const auto j = nlohmann::json::parse(rig.out.str());
    EXPECT_EQ(j["devices"][0]["status"], "unconfirmed");
    EXPECT_EQ(j["devices"][0]["seen_in_final_search"], false);
    EXPECT_EQ(j["devices"][1]["status"], "unconfirmed");
    EXPECT_EQ(j["devices"][1]["message"], "the final search shows 192.168.0.77, not 192.168.0.101");
    EXPECT_EQ(j["devices"][2]["status"], "applied");
}

// More devices on the segment than the table holds: the plan's devices are judged by their own
// answers, also when those come after the table is full.
TEST(ApplyCommand, PlanDevicesAnsweringBeyondAFullTable) {
    const auto others = [](CliRig& rig) {
        for (std::size_t i = 0; i < MAX_DEVICES; ++i)
            rig.AddDevice(static_cast<std::uint8_t>(i + 2), DEVICE_KIND_LEGACY, "192.168.1.1");
    };
    {
        CliRig rig;
        ApplyOptions o = MoveAll(rig, 1, false);
        others(rig);
        // First to answer until it is back; the final search hears it only after the others.
        rig.devices[0].answered = [&rig, late = true](FakeDevice& d) mutable {
            if (late && d.record.primary.ipAddress == Ip("192.168.0.100"))
                d.silentUntil = rig.clock.Now() + Milliseconds{1000};
            late = late && d.record.primary.ipAddress != Ip("192.168.0.100");
        };
        auto keep = RunApply(*rig.session, o, rig.Finish());
        rig.Run();
        ASSERT_EQ(rig.exitCode, EXIT_OK) << rig.err.str();
        const auto j = nlohmann::json::parse(rig.out.str());
        EXPECT_EQ(j["devices"][0]["status"], "applied");
        EXPECT_EQ(j["devices"][0]["after"]["ipv4"], "192.168.0.100");
    }
    CliRig rig;
    others(rig);
    auto keep = RunApply(*rig.session, MoveAll(rig, 1, false), rig.Finish());
    rig.Run();
    EXPECT_EQ(rig.exitCode, EXIT_NOT_FOUND);
    EXPECT_NE(rig.out.str().find("the device table was already full"), std::string::npos);
}

TEST(ApplyCommand, TerminalLineCountsTheChangesAndIsGoneBeforeTheReport) {
    CliRig rig;
    // Standard error through a status line, standard output beside it on the same terminal.
    std::ostringstream terminal;
    StatusLine line(terminal.rdbuf());
    std::ostream err(&line);
    rig.session.reset();  // the transport takes one receiver
    rig.session = std::make_unique<Session>(
        ProtocolEnvironment{rig.clock, rig.transport, rig.host, rig.prober, rig.neighbours},
        terminal, err);
    ApplyOptions o = MoveAll(rig, 3, false);
    o.format = Format::Text;
    o.parallel = 2;
    o.progress = &line;
    // Gone after its change, so that the final search runs its whole cycle with the line shown.
    rig.devices[2].answered = [](FakeDevice& d) {
        d.back = d.record.primary.ipAddress != Ip("192.168.0.102");
    };
    auto keep = RunApply(*rig.session, o, rig.Finish());
    rig.Run();
    ASSERT_EQ(rig.exitCode, EXIT_NOT_BACK) << terminal.str();
    rig.clock.Advance(Milliseconds{1000});
    const std::string text = terminal.str();
    EXPECT_NE(text.find("\rChanging 3 devices: 0 done, 0 failed, 2 running, 1 waiting, "),
              std::string::npos);
    EXPECT_NE(text.find("\rChanging 3 devices: 2 done, 0 failed, 1 running, 0 waiting, "),
              std::string::npos);
    EXPECT_NE(text.find("\rFinal search: 2 of 3 seen, "), std::string::npos);
    const std::string before = text.substr(0, text.find("LINE  MAC"));
    EXPECT_TRUE(before.ends_with("\n") || before.ends_with("\r\x1b[K")) << "line left standing";
    EXPECT_EQ(text.find('\r', before.size()), std::string::npos) << "no line after the report";
}

struct RefusedPlanCase {
    const char* name;
    const char* rows;  // after the header mac,mode,ip,mask,gateway; %1 and %2 are the MACs
    int exitCode;
    const char* says;
};

class ApplyRefuses : public testing::TestWithParam<RefusedPlanCase> {};

TEST_P(ApplyRefuses, AddressesThatCutADeviceOffBeforeSendingAnything) {
    CliRig rig;
    rig.AddDevice(1, DEVICE_KIND_STANDARD, "192.168.0.20");
    rig.AddDevice(2, DEVICE_KIND_STANDARD, "192.168.0.21");
    std::string rows = GetParam().rows;
    for (auto [key, mac] : {std::pair{"%1", Mac(1, 48)}, {"%2", Mac(2, 48)}})
        for (std::size_t at; (at = rows.find(key)) != std::string::npos;)
            rows.replace(at, 2, MacText(mac));
    auto keep = RunApply(*rig.session, PlanOf("mac,mode,ip,mask,gateway\n" + rows), rig.Finish());
    rig.Run();
    EXPECT_EQ(rig.exitCode, GetParam().exitCode) << rig.err.str();
    EXPECT_EQ(rig.SentWithCommand(CMD_SETUP_V2), 0u);
    EXPECT_NE(rig.out.str().find(GetParam().says), std::string::npos) << rig.out.str();
}

INSTANTIATE_TEST_SUITE_P(
    ApplyCommand, ApplyRefuses,
    testing::Values(
        RefusedPlanCase{"SameAddressTwice", "%1,static,192.168.0.50,,\n%2,static,192.168.0.50,,\n",
                        EXIT_CONFLICT, "also planned"},
        RefusedPlanCase{"ThePcsAddress", "%1,static,192.168.0.10,,\n", EXIT_CONFLICT,
                        "this PC's own address"},
        RefusedPlanCase{"ThePcsGateway", "%1,static,192.168.0.1,,192.168.0.254\n", EXIT_CONFLICT,
                        "this PC's gateway"},
        RefusedPlanCase{"APlannedGateway",
                        "%1,static,192.168.0.60,,192.168.0.61\n%2,static,192.168.0.61,,\n",
                        EXIT_CONFLICT, "the gateway planned on line 2"},
        RefusedPlanCase{"OutsideThePcsSubnet", "%1,static,10.0.0.5,255.0.0.0,10.0.0.1\n",
                        EXIT_REFUSED, "outside this PC's subnet"}),
    valdrune::test::ByName());

TEST(ApplyCommand, MissingDeviceAndRefusedRowStopTheWholePlan) {
    CliRig rig;
    rig.AddDevice(1, DEVICE_KIND_STANDARD, "192.168.0.20");
    const std::string csv =
        "mac,port\n" + MacText(Mac(1, 48)) + ",554\n" + MacText(Mac(7)) + ",8080\n";
    auto keep = RunApply(*rig.session, PlanOf(csv), rig.Finish());
    rig.Run();
    ASSERT_EQ(rig.exitCode, EXIT_REFUSED);  // the lowest of 3 (refused) and 7 (not found)
    EXPECT_EQ(rig.SentWithCommand(CMD_SETUP_V2), 0u);
}

}  // namespace
}  // namespace valdrune::cli::test

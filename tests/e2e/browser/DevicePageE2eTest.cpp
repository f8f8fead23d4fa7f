// A real headless browser, as an ordinary user inside the PC namespace, opens the URL the tool
// builds for a simulated device and gets that device's page, over HTTP and over HTTPS.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "browser/core/SiteList.h"
#include "tests/e2e/lib/NetNs.h"
#include "tests/support/CaseNames.h"

namespace valdrune {
namespace {

using e2e::NetNs;

const char* const kChromium = "/usr/bin/chromium";
const std::string kCli = VALDRUNE_CLI_BINARY;

// The browser's complaints about the missing desktop bus drown what matters.
std::string WithoutBusNoise(const std::string& err) {
    std::istringstream lines(err);
    std::string kept;
    for (std::string line; std::getline(lines, line);) {
        if (line.find("dbus") == std::string::npos) kept += line + "\n";
    }
    return kept;
}

struct PageCase {
    const char* name;
    const char* mac;
    const char* deviceName;
    bool https;
};

class DevicePageE2e : public testing::TestWithParam<PageCase> {};

TEST_P(DevicePageE2e, BrowserShowsTheDevicesPage) {
    if (access(kChromium, X_OK) != 0) GTEST_SKIP() << "SKIP: no " << kChromium;
    NetNs net("page");
    VALDRUNE_REQUIRE_NETNS(net);
    net.StartSim({"--scenario", "demo"}, 0, 20);
    auto search = net.RunInPc({kCli, "search", "--json"}, 20000, {"VALDRUNE_TIME_SCALE=20"});
    ASSERT_EQ(search.exitCode, 0) << search.err;
    const auto devices = nlohmann::json::parse(search.out, nullptr, false);
    _CommandDataTable record;
    bool found = false;
    for (const auto& d : devices) {
        if (d.value("mac", "") != GetParam().mac) continue;
        found = ParseIpv4(d["ipv4"].get<std::string>(), record.primary.ipAddress);
        record.primary.port = d["port"].get<std::uint16_t>();
        record.https = d["https"].get<int>() != 0 ? 1 : 0;
    }
    ASSERT_TRUE(found) << search.out;
    const std::string url = DeviceUrl(record);
    ASSERT_EQ(url.rfind(GetParam().https ? "https://" : "http://", 0), 0u) << url;

    // A fresh home and profile the user owns (the namespace's scratch is root's alone); no
    // sandbox, since namespaces and setuid do not mix here.
    const std::string home = e2e::detail::TempDir("vd-page-home");
    struct Remove {
        std::string path;
        ~Remove() { e2e::detail::Quiet({"rm", "-rf", path}); }
    } remove{home};
    ASSERT_NE(home, "/tmp");
    ASSERT_EQ(chown(home.c_str(), 65534, 65534), 0);
    std::vector<std::string> argv = {"setpriv",
                                     "--reuid=65534",
                                     "--regid=65534",
                                     "--clear-groups",
                                     "env",
                                     "-i",
                                     "HOME=" + home,
                                     kChromium,
                                     "--headless",
                                     "--no-sandbox",
                                     "--disable-gpu",
                                     "--disable-quic",
                                     "--no-first-run",
                                     "--disable-background-networking",
                                     "--disable-component-update",
                                     "--disable-sync",
                                     "--user-data-dir=" + home + "/profile"};
    // The simulator's certificate is its own, as a real device's is; a person clicks through.
    if (GetParam().https) argv.push_back("--ignore-certificate-errors");
    argv.push_back("--dump-dom");
    argv.push_back(url);
    auto page = net.RunInPc(argv, 60000);
    EXPECT_NE(page.out.find(std::string("<h1 id=\"name\">") + GetParam().deviceName + "</h1>"),
              std::string::npos)
        << url << "\n"
        << page.out << WithoutBusNoise(page.err);
    EXPECT_NE(page.out.find(GetParam().mac), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, DevicePageE2e,
    testing::Values(PageCase{"Http", "02-00-00-30-00-02", "玄関カメラ", false},
                    PageCase{"Https", "02-00-00-30-00-03", "Loading dock", true}),
    test::ByName{});

}  // namespace
}  // namespace valdrune

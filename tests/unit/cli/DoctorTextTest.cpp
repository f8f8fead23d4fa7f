// The doctor's lines carry the platform's own wording: nothing of one host's commands or
// rights in the shared texts, and commands printed so that they still work when copied.
#include <gtest/gtest.h>

#include "cli/Doctor.h"

namespace valdrune::cli {
namespace {

// Facts as a Windows host words them, each check showing its problem.
NetworkFacts WindowsWorded() {
    NetworkFacts f;
    f.adapterFound = true;
    f.adapter = AdapterFacts{"Ethernet 2", 0, 0, false, false, false};
    f.asAdministrator = "as administrator";
    f.rulesName = "firewall rules";
    f.adapterUpCommand = "netsh interface set interface name=\"Ethernet 2\" admin=enabled";
    f.addressCommand = "netsh interface ipv4 set address name=\"Ethernet 2\" static ADDRESS 255.255.255.0";
    f.ruleFixCommand = "netsh advfirewall firewall add rule program=\"C:\\V\\valdrune-cli.exe\"";
    return f;
}

std::string AllFixes(const NetworkFacts& f) {
    std::string all;
    for (const auto& r : Diagnose(f)) {
        const DoctorText t = DoctorTexts(r);
        all += t.evidence + "\n" + t.fix + "\n";
    }
    return all;
}

TEST(DoctorTexts, FixesUseOnlyThePlatformsWording) {
    NetworkFacts f = WindowsWorded();
    std::string all = AllFixes(f);  // down
    f.adapter.up = f.adapter.carrier = true;
    all += AllFixes(f);  // no address
    f.adapter.ipv4 = 0x0A4D0101;
    f.adapter.prefixLength = 24;
    f.loop = LoopOutcome::Lost;
    all += AllFixes(f);  // loop lost, no echo
    f.loop = LoopOutcome::NotRun;
    f.untestedReason = "the policy cannot be read (0x80004001)";
    f.canProbe = true;
    all += AllFixes(f);  // untested, no flush
    for (const char* word : {"ip ", "nft", "sudo", "root", "sysctl", "\\x5c"})
        EXPECT_EQ(all.find(word), std::string::npos) << word << " in:\n" << all;
    EXPECT_NE(all.find("Bring it up: netsh interface set interface name=\"Ethernet 2\""),
              std::string::npos);
    EXPECT_NE(all.find("e.g. netsh interface ipv4 set address"), std::string::npos);
    EXPECT_NE(all.find("Admit it (as administrator): netsh advfirewall firewall add rule "
                       "program=\"C:\\V\\valdrune-cli.exe\""),
              std::string::npos);
    EXPECT_NE(all.find("Run the program as administrator."), std::string::npos);
    // Anyone may read the rules here, so no one is told to read them with other rights.
    EXPECT_EQ(all.find("to read the rules"), std::string::npos);
}

}  // namespace
}  // namespace valdrune::cli

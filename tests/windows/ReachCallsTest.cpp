// valdrune-cli reach on Windows: the order of the address and route calls and what a failure
// undoes, over a scripted stand-in; the record's folder, file and process checks with the real
// calls under Wine.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <deque>
#include <map>

#include "platform/windows/ReachRoutes.h"
#include "protocol/Record.h"
#include "tests/support/CaseNames.h"

namespace valdrune {
namespace {

using Dad = IReachSystem::Dad;

std::uint32_t Ip(const char* text) {
    std::uint32_t a = 0;
    EXPECT_TRUE(ParseIpv4(text, a));
    return a;
}

class ScriptedSystem final : public IReachSystem {
  public:
    std::vector<Ipv4Network> local;
    std::map<std::string, unsigned long> fails;  // call name -> its error
    std::deque<Dad> dad;                         // one per read; Preferred once empty
    int prefixLength = 32;
    bool answers = false;
    std::vector<std::string> calls;

    std::vector<std::string> Missing() override { return {}; }
    std::vector<Ipv4Network> LocalAddresses() override { return local; }
    unsigned long AddAddress(std::int32_t, std::uint32_t) override { return Call("add address"); }
    unsigned long ReadAddress(std::int32_t, std::uint32_t, AddressState& s) override {
        s.prefixLength = prefixLength;
        s.dad = dad.empty() ? Dad::Preferred : dad.front();
        if (!dad.empty()) dad.pop_front();
        return Call("read address");
    }
    unsigned long DeleteAddress(std::int32_t, std::uint32_t) override {
        return Call("delete address");
    }
    unsigned long AddRoute(std::int32_t, std::uint32_t) override { return Call("add route"); }
    unsigned long DeleteRoute(std::int32_t, std::uint32_t) override { return Call("delete route"); }
    unsigned long Resolve(std::int32_t, std::uint32_t, bool& answered) override {
        answered = answers;
        return Call("resolve");
    }
    void Pause(unsigned) override { calls.push_back("pause"); }

  private:
    unsigned long Call(const std::string& name) {
        calls.push_back(name);
        const auto it = fails.find(name);
        return it == fails.end() ? 0 : it->second;
    }
};

struct Rig {
    ScriptedSystem* system = new ScriptedSystem;
    WindowsReachRoutes routes{std::unique_ptr<IReachSystem>(system), L""};
    ReachEntry entry{0, 4, Ip("192.168.1.253"), Ip("192.168.1.254"), 1};
    std::string error;
};

using Calls = std::vector<std::string>;

TEST(ReachWindows, WaitsForTheDuplicateCheckBeforeAddingTheRoute) {
    Rig r;
    r.system->dad = {Dad::Tentative, Dad::Tentative};
    EXPECT_EQ(r.routes.Add(r.entry, r.error), ReachAdd::Added) << r.error;
    EXPECT_EQ(r.system->calls, (Calls{"add address", "read address", "pause", "read address",
                                      "pause", "read address", "add route"}));
}

struct AddCase {
    const char* name;
    std::map<std::string, unsigned long> fails;
    Dad dad;
    ReachAdd result;
    Calls calls;
    const char* says;
};

class ReachWindowsAdd : public testing::TestWithParam<AddCase> {};

// Whatever fails, what was added is taken away again, or the result says it stayed.
TEST_P(ReachWindowsAdd, UndoesWhatItAdded) {
    const AddCase& c = GetParam();
    Rig r;
    r.system->fails = c.fails;
    r.system->dad = {c.dad};
    EXPECT_EQ(r.routes.Add(r.entry, r.error), c.result);
    EXPECT_EQ(r.system->calls, c.calls);
    EXPECT_NE(r.error.find(c.says), std::string::npos) << r.error;
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ReachWindowsAdd,
    testing::Values(AddCase{"AddressRefused",
                            {{"add address", ERROR_ACCESS_DENIED}},
                            Dad::Preferred,
                            ReachAdd::Failed,
                            {"add address"},
                            "cannot add the address: "},
                    // Held on the adapter already: not this run's to delete.
                    AddCase{"AddressThereAlready",
                            {{"add address", ERROR_OBJECT_ALREADY_EXISTS}},
                            Dad::Preferred,
                            ReachAdd::InUse,
                            {"add address"},
                            "cannot add the address"},
                    AddCase{"DuplicateFound",
                            {},
                            Dad::Failed,
                            ReachAdd::InUse,
                            {"add address", "read address", "delete address"},
                            "another host"},
                    AddCase{"RouteRefused",
                            {{"add route", ERROR_INVALID_PARAMETER}},
                            Dad::Preferred,
                            ReachAdd::Failed,
                            {"add address", "read address", "add route", "delete address"},
                            "cannot add the route"},
                    AddCase{"RouteRefusedAndAddressStuck",
                            {{"add route", ERROR_INVALID_PARAMETER},
                             {"delete address", ERROR_ACCESS_DENIED}},
                            Dad::Preferred,
                            ReachAdd::Partial,
                            {"add address", "read address", "add route", "delete address"},
                            "cannot remove the address again"}),
    test::ByName{});

TEST(ReachWindows, RemoveCountsWhatIsGoneAsDoneAndLeavesAnAddressConfiguredSince) {
    Rig gone;
    gone.system->fails = {{"delete route", ERROR_NOT_FOUND}, {"read address", ERROR_NOT_FOUND}};
    EXPECT_TRUE(gone.routes.Remove(gone.entry, gone.error)) << gone.error;
    EXPECT_EQ(gone.system->calls, (Calls{"delete route", "read address"}));

    Rig configured;
    configured.system->prefixLength = 24;
    EXPECT_TRUE(configured.routes.Remove(configured.entry, configured.error));
    EXPECT_EQ(configured.system->calls, (Calls{"delete route", "read address"}));

    Rig stuck;
    stuck.system->fails = {{"delete address", ERROR_ACCESS_DENIED}};
    EXPECT_FALSE(stuck.routes.Remove(stuck.entry, stuck.error));
    EXPECT_NE(stuck.error.find("cannot remove the address"), std::string::npos) << stuck.error;
}

TEST(ReachWindows, AddressesHeldHereOrAnsweredOnTheLinkAreInUse) {
    Rig r;
    r.system->local = {{Ip("10.0.0.5"), 24}, {Ip("192.168.1.253"), 32}, {Ip("127.0.0.1"), 8}};
    EXPECT_TRUE(r.routes.InUse(4, {}, Ip("192.168.1.253")));
    EXPECT_FALSE(r.routes.InUse(4, {}, Ip("192.168.1.252")));
    r.system->answers = true;
    EXPECT_TRUE(r.routes.InUse(4, {}, Ip("192.168.1.252")));
}

struct DescriptorCase {
    const char* name;
    const wchar_t* sddl;
    bool trusted;
};

class ReachFolderRights : public testing::TestWithParam<DescriptorCase> {};

TEST_P(ReachFolderRights, OnlySystemAndAdministratorsMayWrite) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        GetParam().sddl, SDDL_REVISION_1, &sd, nullptr));
    EXPECT_EQ(AdministratorsOnly(sd), GetParam().trusted);
    ::LocalFree(sd);
}

INSTANTIATE_TEST_SUITE_P(
    Descriptors, ReachFolderRights,
    testing::Values(
        DescriptorCase{"AsMade", L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", true},
        DescriptorCase{"OthersMayRead", L"O:SYD:(A;;FA;;;SY)(A;OICI;0x1200a9;;;BU)", true},
        // What a folder made inside ProgramData inherits: users may add files.
        DescriptorCase{"InheritedFromProgramData",
                       L"O:BAD:(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIIOID;GA;;;CO)"
                       L"(A;OICIID;0x1200a9;;;BU)(A;CIID;0x100116;;;BU)",
                       false},
        DescriptorCase{"OwnedByAUser", L"O:S-1-5-21-1-2-3-1000D:P(A;;FA;;;SY)", false},
        DescriptorCase{"EveryoneMayWrite", L"O:BAD:(A;;FA;;;BA)(A;;GW;;;WD)", false}),
    test::ByName{});

TEST(ReachFolderRights, NoDaclLetsEveryoneWrite) {
    SECURITY_DESCRIPTOR sd;
    ASSERT_TRUE(::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof admins;
    ASSERT_TRUE(::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size));
    ASSERT_TRUE(::SetSecurityDescriptorOwner(&sd, admins, FALSE));
    ASSERT_TRUE(::SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE));
    EXPECT_FALSE(AdministratorsOnly(&sd));
}

// The real calls from here on.
bool UnderWine() {
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

class ReachFolder : public testing::Test {
  protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ASSERT_GT(::GetTempPathW(MAX_PATH, temp), 0u);
        base_ = std::wstring(temp) + L"reach-test-" + std::to_wstring(::GetCurrentProcessId());
        ASSERT_TRUE(::CreateDirectoryW(base_.c_str(), nullptr));
    }
    void TearDown() override {
        for (const wchar_t* name : {L"\\private\\reach.state", L"\\state"})
            ::DeleteFileW((base_ + name).c_str());
        for (const wchar_t* name : {L"\\private", L"\\open", L"\\file", L""}) {
            ::RemoveDirectoryW((base_ + name).c_str());
            ::DeleteFileW((base_ + name).c_str());
        }
    }
    std::wstring base_;
};

TEST_F(ReachFolder, MakesItsFolderAndRefusesOnesMadeOtherwise) {
    const bool made = AdministratorsOnlyFolder(base_ + L"\\private");
    // Wine keeps no security descriptor: it makes one up from the owner and mode bits, with
    // its own user as the owner, so even the folder made here is refused there.
    if (!UnderWine()) {
        EXPECT_TRUE(made);
    }
    EXPECT_NE(::GetFileAttributesW((base_ + L"\\private").c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(::CreateDirectoryW((base_ + L"\\open").c_str(), nullptr));
    EXPECT_FALSE(AdministratorsOnlyFolder(base_ + L"\\open"));
    HANDLE f = ::CreateFileW((base_ + L"\\file").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    ::CloseHandle(f);
    EXPECT_FALSE(AdministratorsOnlyFolder(base_ + L"\\file"));

    WindowsReachRoutes open(std::make_unique<WindowsReachSystem>(), base_ + L"\\open");
    bool called = false;
    EXPECT_FALSE(open.UpdateState([&](const std::string& t) { return called = true, t; }));
    EXPECT_FALSE(called);
}

TEST_F(ReachFolder, TheRecordIsReplacedWhole) {
    const std::wstring path = base_ + L"\\state";
    const auto append = [](const std::string& line) {
        return [line](const std::string& text) { return text + line; };
    };
    ASSERT_TRUE(UpdateLockedFile(path, append("one\n")));
    ASSERT_TRUE(UpdateLockedFile(path, append("two\n")));
    std::string seen;
    ASSERT_TRUE(UpdateLockedFile(path, [&](const std::string& text) {
        seen = text;
        return std::string("three\n");  // shorter: the rest is cut off
    }));
    EXPECT_EQ(seen, "one\ntwo\n");
    ASSERT_TRUE(UpdateLockedFile(path, [&](const std::string& text) { return seen = text; }));
    EXPECT_EQ(seen, "three\n");
    EXPECT_FALSE(UpdateLockedFile(base_, append("x")));  // a folder
}

TEST(ReachProcesses, OnlyARunningCopyOfThisProgramIsAlive) {
    WindowsReachRoutes routes(std::make_unique<WindowsReachSystem>(), L"");
    EXPECT_TRUE(routes.Alive(static_cast<int>(::GetCurrentProcessId())));
    EXPECT_FALSE(routes.Alive(0));

    // Another program, running and then ended.
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    wchar_t command[] = L"cmd.exe /c exit 0";
    ASSERT_TRUE(::CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                                 nullptr, nullptr, &si, &pi));
    EXPECT_FALSE(routes.Alive(static_cast<int>(pi.dwProcessId)));
    ::ResumeThread(pi.hThread);
    ::WaitForSingleObject(pi.hProcess, 10000);
    EXPECT_FALSE(routes.Alive(static_cast<int>(pi.dwProcessId)));
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
}

}  // namespace
}  // namespace valdrune

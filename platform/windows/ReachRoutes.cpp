#include "platform/windows/ReachRoutes.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <netioapi.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <knownfolders.h>

#include <algorithm>
#include <cwctype>

#include "platform/windows/CodePage.h"
#include "platform/windows/Privileges.h"

namespace valdrune {

struct IpHelperReachCalls {
    using InitAddress = VOID(WINAPI*)(PMIB_UNICASTIPADDRESS_ROW);
    using ChangeAddress = DWORD(WINAPI*)(const MIB_UNICASTIPADDRESS_ROW*);
    using InitRoute = VOID(WINAPI*)(PMIB_IPFORWARD_ROW2);
    using ChangeRoute = DWORD(WINAPI*)(const MIB_IPFORWARD_ROW2*);
    using ResolveNeighbour = DWORD(WINAPI*)(PMIB_IPNET_ROW2, const SOCKADDR_INET*);

    InitAddress initAddress = nullptr;
    ChangeAddress createAddress = nullptr;
    ChangeAddress deleteAddress = nullptr;
    InitRoute initRoute = nullptr;
    ChangeRoute createRoute = nullptr;
    ChangeRoute deleteRoute = nullptr;
    ResolveNeighbour resolve = nullptr;
    std::vector<std::string> missing;

    // The library is loaded already: the program imports other calls from it.
    IpHelperReachCalls() : module_(::GetModuleHandleW(L"iphlpapi.dll")) {
        Find(initAddress, "InitializeUnicastIpAddressEntry");
        Find(createAddress, "CreateUnicastIpAddressEntry");
        Find(deleteAddress, "DeleteUnicastIpAddressEntry");
        Find(initRoute, "InitializeIpForwardEntry");
        Find(createRoute, "CreateIpForwardEntry2");
        Find(deleteRoute, "DeleteIpForwardEntry2");
        Find(resolve, "ResolveIpNetEntry2");
    }

  private:
    template <typename F>
    void Find(F& call, const char* name) {
        FARPROC found = module_ ? ::GetProcAddress(module_, name) : nullptr;
        if (found == nullptr) missing.emplace_back(name);
        call = reinterpret_cast<F>(reinterpret_cast<void (*)()>(found));
    }

    HMODULE module_;
};

namespace {

const IpHelperReachCalls& SystemCalls() {
    static const IpHelperReachCalls calls;
    return calls;
}

void SetIpv4(SOCKADDR_INET& to, std::uint32_t hostOrder) {
    to = {};
    to.Ipv4.sin_family = AF_INET;
    to.Ipv4.sin_addr.s_addr = htonl(hostOrder);
}

MIB_UNICASTIPADDRESS_ROW AddressRow(std::int32_t ifIndex, std::uint32_t address) {
    MIB_UNICASTIPADDRESS_ROW row{};
    SetIpv4(row.Address, address);
    row.InterfaceIndex = static_cast<NET_IFINDEX>(ifIndex);
    return row;
}

bool Gone(unsigned long rc) {
    return rc == NO_ERROR || rc == ERROR_NOT_FOUND || rc == ERROR_FILE_NOT_FOUND;
}

// IPv4 duplicate address detection takes about 3 s; a link that drops meanwhile restarts it.
constexpr int kDadPolls = 20;
constexpr unsigned kDadPollMilliseconds = 500;

constexpr DWORD kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                               FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                               WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

bool Trusted(PSID sid) {
    return ::IsWellKnownSid(sid, WinLocalSystemSid) ||
           ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

// Only SYSTEM and the Administrators group may write. CREATOR OWNER only reaches what is made
// inside, which only they can make.
bool OnlyTrustedMayWrite(PACL dacl) {
    if (dacl == nullptr) return false;  // no DACL: everyone may do everything
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(dacl, i, &ace)) return false;
        const auto* header = static_cast<ACE_HEADER*>(ace);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;  // not judged: refuse
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        PSID sid = &allowed->SidStart;
        if ((allowed->Mask & kWriteRights) != 0 && !Trusted(sid) &&
            !::IsWellKnownSid(sid, WinCreatorOwnerSid))
            return false;
    }
    return true;
}

bool WritableOnlyByAdministrators(const std::wstring& folder) {
    // The link itself, not what it points to: a junction to a folder elsewhere is refused.
    HANDLE h = ::CreateFileW(folder.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    bool ok = ::GetFileInformationByHandle(h, &info) &&
              (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
              (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    PSECURITY_DESCRIPTOR sd = nullptr;
    ok =
        ok &&
        ::GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                          nullptr, nullptr, nullptr, nullptr, &sd) == ERROR_SUCCESS &&
        AdministratorsOnly(sd);
    if (sd != nullptr) ::LocalFree(sd);
    ::CloseHandle(h);
    return ok;
}

std::wstring ImageName(HANDLE process) {
    wchar_t path[MAX_PATH * 2];
    DWORD size = static_cast<DWORD>(std::size(path));
    if (!::QueryFullProcessImageNameW(process, 0, path, &size)) return {};
    std::wstring name(path, size);
    name.erase(0, name.find_last_of(L"\\/") + 1);
    for (auto& c : name) c = static_cast<wchar_t>(std::towlower(c));
    return name;
}

}  // namespace

bool AdministratorsOnly(const void* securityDescriptor) {
    auto* sd = const_cast<void*>(securityDescriptor);
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    if (!::GetSecurityDescriptorOwner(sd, &owner, &defaulted) ||
        !::GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted))
        return false;
    // The owner may always rewrite the DACL; no DACL lets everyone do everything.
    return owner != nullptr && Trusted(owner) && present && OnlyTrustedMayWrite(dacl);
}

WindowsReachSystem::WindowsReachSystem() : calls_(SystemCalls()) {}

std::vector<std::string> WindowsReachSystem::Missing() { return calls_.missing; }

std::vector<Ipv4Network> WindowsReachSystem::LocalAddresses() {
    std::vector<Ipv4Network> out;
    PMIB_UNICASTIPADDRESS_TABLE table = nullptr;
    if (::GetUnicastIpAddressTable(AF_INET, &table) != NO_ERROR) return out;
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_UNICASTIPADDRESS_ROW& row = table->Table[i];
        out.push_back({ntohl(row.Address.Ipv4.sin_addr.s_addr), row.OnLinkPrefixLength});
    }
    ::FreeMibTable(table);
    return out;
}

unsigned long WindowsReachSystem::AddAddress(std::int32_t ifIndex, std::uint32_t address) {
    if (!calls_.initAddress || !calls_.createAddress) return ERROR_PROC_NOT_FOUND;
    MIB_UNICASTIPADDRESS_ROW row;
    calls_.initAddress(&row);
    SetIpv4(row.Address, address);
    row.InterfaceIndex = static_cast<NET_IFINDEX>(ifIndex);
    row.OnLinkPrefixLength = 32;  // no subnet route: only the host route moves traffic
    row.PrefixOrigin = IpPrefixOriginManual;
    row.SuffixOrigin = IpSuffixOriginManual;
    return calls_.createAddress(&row);
}

unsigned long WindowsReachSystem::ReadAddress(std::int32_t ifIndex, std::uint32_t address,
                                              AddressState& state) {
    MIB_UNICASTIPADDRESS_ROW row = AddressRow(ifIndex, address);
    const DWORD rc = ::GetUnicastIpAddressEntry(&row);
    if (rc != NO_ERROR) return rc;
    state.prefixLength = row.OnLinkPrefixLength;
    state.dad = row.DadState == IpDadStatePreferred   ? Dad::Preferred
                : row.DadState == IpDadStateTentative ? Dad::Tentative
                                                      : Dad::Failed;
    return NO_ERROR;
}

unsigned long WindowsReachSystem::DeleteAddress(std::int32_t ifIndex, std::uint32_t address) {
    if (!calls_.deleteAddress) return ERROR_PROC_NOT_FOUND;
    const MIB_UNICASTIPADDRESS_ROW row = AddressRow(ifIndex, address);
    return calls_.deleteAddress(&row);
}

namespace {

MIB_IPFORWARD_ROW2 RouteRow(const IpHelperReachCalls& calls, std::int32_t ifIndex,
                            std::uint32_t device) {
    MIB_IPFORWARD_ROW2 row;
    calls.initRoute(&row);
    row.InterfaceIndex = static_cast<NET_IFINDEX>(ifIndex);
    SetIpv4(row.DestinationPrefix.Prefix, device);
    row.DestinationPrefix.PrefixLength = 32;
    SetIpv4(row.NextHop, 0);  // on the adapter's link
    // Left invalid by the initialisation.
    row.SitePrefixLength = 0;
    row.Metric = 0;
    row.Protocol = RouteProtocolNetMgmt;  // static, as a user adds one
    return row;
}

}  // namespace

unsigned long WindowsReachSystem::AddRoute(std::int32_t ifIndex, std::uint32_t device) {
    if (!calls_.initRoute || !calls_.createRoute) return ERROR_PROC_NOT_FOUND;
    const MIB_IPFORWARD_ROW2 row = RouteRow(calls_, ifIndex, device);
    return calls_.createRoute(&row);
}

unsigned long WindowsReachSystem::DeleteRoute(std::int32_t ifIndex, std::uint32_t device) {
    if (!calls_.initRoute || !calls_.deleteRoute) return ERROR_PROC_NOT_FOUND;
    const MIB_IPFORWARD_ROW2 row = RouteRow(calls_, ifIndex, device);
    return calls_.deleteRoute(&row);
}

unsigned long WindowsReachSystem::Resolve(std::int32_t ifIndex, std::uint32_t address,
                                          bool& answered) {
    answered = false;
    if (!calls_.resolve) return ERROR_PROC_NOT_FOUND;
    MIB_IPNET_ROW2 row{};
    SetIpv4(row.Address, address);
    row.InterfaceIndex = static_cast<NET_IFINDEX>(ifIndex);
    const DWORD rc = calls_.resolve(&row, nullptr);
    answered = rc == NO_ERROR && row.PhysicalAddressLength > 0 && row.State != NlnsUnreachable &&
               row.State != NlnsIncomplete;
    return rc;
}

void WindowsReachSystem::Pause(unsigned milliseconds) { ::Sleep(milliseconds); }

bool AdministratorsOnlyFolder(const std::wstring& folder) {
    // Owner the Administrators group; full control for SYSTEM and that group, passed on to
    // what is made inside; nothing from the parent.
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1, &sd, nullptr)) {
        SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
        ::CreateDirectoryW(folder.c_str(), &sa);  // fails when it is there: judged below
        ::LocalFree(sd);
    }
    return WritableOnlyByAdministrators(folder);
}

std::wstring DefaultReachFolder() {
    wchar_t* base = nullptr;
    std::wstring folder;
    if (::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &base) == S_OK && base)
        folder = std::wstring(base) + L"\\Valdrune";
    ::CoTaskMemFree(base);
    return folder;
}

std::string WindowsReachRoutes::Unsupported() {
    const std::vector<std::string> missing = system_.Missing();
    if (missing.empty()) return {};
    std::string names;
    for (const auto& name : missing) names += (names.empty() ? "" : ", ") + name;
    return "the IP Helper library (iphlpapi.dll) lacks " + names + ".";
}

bool WindowsReachRoutes::Permitted() { return IsElevated(); }

std::string WindowsReachRoutes::StatePlace() {
    return (folder_.empty() ? std::string("%ProgramData%\\Valdrune") : WideToUtf8(folder_)) +
           ", a folder only administrators may write to";
}

std::vector<Ipv4Network> WindowsReachRoutes::Networks() {
    std::vector<Ipv4Network> out;
    for (const Ipv4Network& n : system_.LocalAddresses()) {
        // A /32 (such as a borrowed address) is no subnet the device could be in.
        if (n.address != 0 && n.prefixLength < 32 && (n.address >> 24) != 127) out.push_back(n);
    }
    return out;
}

ReachAdd WindowsReachRoutes::Add(const ReachEntry& e, std::string& error) {
    if (unsigned long rc = system_.AddAddress(e.ifIndex, e.source)) {
        error = "cannot add the address: " + SystemMessage(rc);
        // Held on this adapter already: not free, and not this run's to remove.
        return rc == ERROR_OBJECT_ALREADY_EXISTS ? ReachAdd::InUse : ReachAdd::Failed;
    }
    // Nothing is sent from the address until the system's own duplicate check on the link
    // has passed.
    IReachSystem::AddressState state;
    unsigned long rc = NO_ERROR;
    for (int poll = 0; poll < kDadPolls; ++poll) {
        rc = system_.ReadAddress(e.ifIndex, e.source, state);
        if (rc != NO_ERROR || state.dad != IReachSystem::Dad::Tentative) break;
        system_.Pause(kDadPollMilliseconds);
    }
    ReachAdd result = ReachAdd::Added;
    if (rc != NO_ERROR) {
        error = "cannot read the added address back: " + SystemMessage(rc);
        result = ReachAdd::Failed;
    } else if (state.dad == IReachSystem::Dad::Failed) {
        error = "the system's duplicate address check found another host using it";
        result = ReachAdd::InUse;
    } else if (state.dad == IReachSystem::Dad::Tentative) {
        error = "the system's duplicate address check had not finished after " +
                std::to_string(kDadPolls * kDadPollMilliseconds / 1000) + " s";
        result = ReachAdd::Failed;
    } else if (unsigned long routeRc = system_.AddRoute(e.ifIndex, e.device)) {
        error = "cannot add the route: " + SystemMessage(routeRc);
        result = ReachAdd::Failed;
    }
    if (result == ReachAdd::Added) return result;
    if (unsigned long undo = system_.DeleteAddress(e.ifIndex, e.source); !Gone(undo)) {
        error += ", and cannot remove the address again: " + SystemMessage(undo);
        return ReachAdd::Partial;
    }
    return result;
}

bool WindowsReachRoutes::Remove(const ReachEntry& e, std::string& error) {
    const unsigned long routeRc = system_.DeleteRoute(e.ifIndex, e.device);
    // A borrowed address is a /32. The same address with a subnet prefix was configured by
    // someone since (after a restart, say): that one stays.
    IReachSystem::AddressState state;
    unsigned long addressRc = system_.ReadAddress(e.ifIndex, e.source, state);
    if (addressRc == NO_ERROR && state.prefixLength == 32)
        addressRc = system_.DeleteAddress(e.ifIndex, e.source);
    if (!Gone(routeRc)) error = "cannot remove the route: " + SystemMessage(routeRc);
    if (!Gone(addressRc)) error = "cannot remove the address: " + SystemMessage(addressRc);
    return Gone(routeRc) && Gone(addressRc);
}

bool WindowsReachRoutes::UpdateState(const std::function<std::string(const std::string&)>& change) {
    return !folder_.empty() && AdministratorsOnlyFolder(folder_) &&
           UpdateLockedFile(folder_ + L"\\reach.state", change);
}

bool UpdateLockedFile(const std::wstring& path,
                      const std::function<std::string(const std::string&)>& change) {
    HANDLE f = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    OVERLAPPED whole{};
    bool ok =
        ::GetFileInformationByHandle(f, &info) &&
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
        ::LockFileEx(f, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
    if (!ok) {
        ::CloseHandle(f);
        return false;
    }
    std::string text;
    char buf[4096];
    for (DWORD n = 0; ::ReadFile(f, buf, sizeof buf, &n, nullptr) && n > 0;) text.append(buf, n);
    const std::string next = change(text);
    LARGE_INTEGER start{};
    ok = ::SetFilePointerEx(f, start, nullptr, FILE_BEGIN) && ::SetEndOfFile(f);
    for (std::size_t done = 0; ok && done < next.size();) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(next.size() - done, 1u << 20));
        ok = ::WriteFile(f, next.data() + done, chunk, &written, nullptr) && written > 0;
        done += written;
    }
    ok = ::FlushFileBuffers(f) && ok;
    ::UnlockFileEx(f, 0, MAXDWORD, MAXDWORD, &whole);
    ::CloseHandle(f);
    return ok;
}

bool WindowsReachRoutes::Alive(int pid) {
    // The number may have gone to another program since the run ended: only a running
    // process of this same program counts.
    if (pid <= 0) return false;
    HANDLE p = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (p == nullptr) return ::GetLastError() == ERROR_ACCESS_DENIED;  // there; cannot tell more
    DWORD exitCode = 0;
    const bool alive = ::GetExitCodeProcess(p, &exitCode) && exitCode == STILL_ACTIVE &&
                       ImageName(p) == ImageName(::GetCurrentProcess());
    ::CloseHandle(p);
    return alive;
}

bool WindowsReachRoutes::InUse(std::int32_t ifIndex, const MacAddress&, std::uint32_t address) {
    // Held here already (by another run, say): the request would not show it.
    for (const Ipv4Network& n : system_.LocalAddresses())
        if (n.address == address) return true;
    // Some systems refuse a request outside the adapter's own subnets; then the system's
    // duplicate check while the address is added decides alone.
    bool answered = false;
    system_.Resolve(ifIndex, address, answered);
    return answered;
}

}  // namespace valdrune

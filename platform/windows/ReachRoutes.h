// The temporary address and host route of valdrune-cli reach through the IP Helper, and the
// record of them in %ProgramData%\Valdrune, a folder only SYSTEM and the Administrators group
// may write to (the record tells a later run what to remove, so no one else may plant entries
// in it).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "protocol/Reach.h"

namespace valdrune {

// The address and route calls in plain types. Each returns a Win32 error code (0 = done).
class IReachSystem {
  public:
    enum class Dad { Tentative, Preferred, Failed };  // Failed: duplicate, deprecated, invalid
    struct AddressState {
        int prefixLength = 0;
        Dad dad = Dad::Tentative;
    };

    virtual ~IReachSystem() = default;
    // The calls this system lacks, by name (it is still usable for everything else).
    virtual std::vector<std::string> Missing() = 0;
    // Every IPv4 address held here, each with its on-link prefix length.
    virtual std::vector<Ipv4Network> LocalAddresses() = 0;
    virtual unsigned long AddAddress(std::int32_t ifIndex, std::uint32_t address) = 0;  // a /32
    virtual unsigned long ReadAddress(std::int32_t ifIndex, std::uint32_t address,
                                      AddressState& state) = 0;
    virtual unsigned long DeleteAddress(std::int32_t ifIndex, std::uint32_t address) = 0;
    // A host route to `device`, on the link of the adapter.
    virtual unsigned long AddRoute(std::int32_t ifIndex, std::uint32_t device) = 0;
    virtual unsigned long DeleteRoute(std::int32_t ifIndex, std::uint32_t device) = 0;
    // An address-resolution request for `address` on the adapter; answered when a host did.
    virtual unsigned long Resolve(std::int32_t ifIndex, std::uint32_t address, bool& answered) = 0;
    virtual void Pause(unsigned milliseconds) = 0;
};

struct IpHelperReachCalls;

// The real calls. The IP Helper ones that change addresses and routes are looked up when the
// program runs, so that a system without them (Wine 8 has none of them) still starts the tool.
class WindowsReachSystem final : public IReachSystem {
  public:
    WindowsReachSystem();
    std::vector<std::string> Missing() override;
    std::vector<Ipv4Network> LocalAddresses() override;
    unsigned long AddAddress(std::int32_t ifIndex, std::uint32_t address) override;
    unsigned long ReadAddress(std::int32_t ifIndex, std::uint32_t address,
                              AddressState& state) override;
    unsigned long DeleteAddress(std::int32_t ifIndex, std::uint32_t address) override;
    unsigned long AddRoute(std::int32_t ifIndex, std::uint32_t device) override;
    unsigned long DeleteRoute(std::int32_t ifIndex, std::uint32_t device) override;
    unsigned long Resolve(std::int32_t ifIndex, std::uint32_t address, bool& answered) override;
    void Pause(unsigned milliseconds) override;

  private:
    const IpHelperReachCalls& calls_;
};

// Makes `folder` when it is missing, owned by the Administrators group, with a protected DACL
// that lets in only SYSTEM and that group (so the "Users may create files" entry ProgramData
// passes on does not reach it). True when `folder` is then a plain folder (no link or junction)
// owned by SYSTEM or the Administrators group that no one else may write to.
bool AdministratorsOnlyFolder(const std::wstring& folder);

// The judgement behind it, on a security descriptor (SECURITY_DESCRIPTOR*) holding the owner
// and the DACL.
bool AdministratorsOnly(const void* securityDescriptor);

// Replaces the text of the file at `path` (made when missing; a link is refused) by
// change(text), holding an exclusive lock on it meanwhile.
bool UpdateLockedFile(const std::wstring& path,
                      const std::function<std::string(const std::string&)>& change);

// "%ProgramData%\Valdrune", from the system's known-folder table; empty when there is none.
std::wstring DefaultReachFolder();

class WindowsReachRoutes final : public IReachRoutes {
  public:
    explicit WindowsReachRoutes(
        std::unique_ptr<IReachSystem> system = std::make_unique<WindowsReachSystem>(),
        std::wstring folder = DefaultReachFolder())
        : owned_(std::move(system)), system_(*owned_), folder_(std::move(folder)) {}

    std::string Unsupported() override;
    bool Permitted() override;  // an elevated token
    std::string StatePlace() override;
    std::uint64_t Namespace() override { return 0; }  // one network stack per system
    std::vector<Ipv4Network> Networks() override;
    ReachAdd Add(const ReachEntry& entry, std::string& error) override;
    bool Remove(const ReachEntry& entry, std::string& error) override;
    bool UpdateState(const std::function<std::string(const std::string&)>& change) override;
    bool Alive(int pid) override;
    bool InUse(std::int32_t ifIndex, const MacAddress& ownMac, std::uint32_t address) override;

  private:
    std::unique_ptr<IReachSystem> owned_;
    IReachSystem& system_;
    std::wstring folder_;
};

}  // namespace valdrune

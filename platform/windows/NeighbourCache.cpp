#include "platform/windows/NeighbourCache.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include "platform/windows/Privileges.h"

namespace valdrune {

std::vector<NeighbourRow> RowsToFlush(const std::vector<NeighbourRow>& table,
                                      std::uint32_t address) {
    std::vector<NeighbourRow> rows;
    for (const auto& r : table) {
        if (r.address == address && !r.permanent) rows.push_back(r);
    }
    return rows;
}

std::vector<NeighbourRow> WindowsNeighbourCache::Table() {
    std::vector<NeighbourRow> rows;
    MIB_IPNET_TABLE2* table = nullptr;
    if (::GetIpNetTable2(AF_INET, &table) != NO_ERROR || table == nullptr) return rows;
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IPNET_ROW2& r = table->Table[i];
        if (r.Address.si_family != AF_INET) continue;
        NeighbourRow row;
        row.ifIndex = static_cast<std::int32_t>(r.InterfaceIndex);
        row.address = ntohl(r.Address.Ipv4.sin_addr.s_addr);
        row.permanent = r.State == NlnsPermanent;
        rows.push_back(row);
    }
    ::FreeMibTable(table);
    return rows;
}

void WindowsNeighbourCache::Flush(std::uint32_t address) {
    for (const NeighbourRow& r : RowsToFlush(Table(), address)) {
        // DeleteIpNetEntry, not its ...2 successor: the same removal on Windows, and one that
        // Wine carries (as a no-op) where calling the successor ends the process.
        MIB_IPNETROW row{};
        row.dwIndex = static_cast<DWORD>(r.ifIndex);
        row.dwAddr = htonl(r.address);
        // Fire and forget, as the seam says; a refusal (no elevation) changes nothing.
        (void)::DeleteIpNetEntry(&row);
    }
}

bool WindowsNeighbourCache::CanFlush() const { return IsElevated(); }

}  // namespace valdrune

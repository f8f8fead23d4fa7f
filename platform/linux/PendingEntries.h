// Work in progress kept by key, each entry owned through a unique_ptr and with a time-out
// `timer` on the scheduler (0 when it has none or it fired).
#pragma once

#include <cstdint>
#include <utility>

#include "protocol/Seams.h"

namespace valdrune {

// The entry of key taken out of the table, its time-out cancelled; null when there is none.
template <class Table>
typename Table::mapped_type TakeEntry(Table& table, std::uint64_t key, IScheduler& scheduler) {
    const auto it = table.find(key);
    if (it == table.end()) return {};
    auto entry = std::move(it->second);
    table.erase(it);
    if (entry->timer != 0) scheduler.CancelTimer(entry->timer);
    return entry;
}

// Every entry's time-out cancelled before any entry ends; no callback runs.
template <class Table>
void DropEntries(Table& table, IScheduler& scheduler) {
    auto entries = std::move(table);
    table.clear();
    for (auto& [key, entry] : entries)
        if (entry->timer != 0) scheduler.CancelTimer(entry->timer);
}

}  // namespace valdrune

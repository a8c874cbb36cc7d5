#pragma once

#include "discovery/DiscoveryProtocol.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

// A recorder found since the last refresh.
struct DeviceRow {
    std::uint32_t address = 0; // key, as found
    std::uint16_t port = 0;    // key, as found
    DeviceNetRecord record;    // as received, with the last modify-IP values written in
    DeviceIdentity identity;   // the recorder's own identity bytes; empty if it sent none
    std::uint32_t source = 0;  // the address its search reply came from
};

// The recorders found since the last refresh, in the order found, at most one per address, port
// and identity, with a generation that each clear() increases. Every member takes the table's
// mutex.
//
// Recorders fresh from the factory all answer from one address and port; only their identity
// tells them apart, so it is part of the key. The same recorder answering again (the repeated
// searches, a reply heard through two interfaces) has the same key and makes no second row.
class DeviceTable {
public:
    struct Added {
        std::size_t row;
        std::uint64_t generation;
    };

    // Appends a row unless one with the record's address and port and this identity exists (a
    // hash lookup).
    std::optional<Added> add(const DeviceNetRecord& record, const DeviceIdentity& identity,
                             std::uint32_t source = 0);
    // Empties the table and starts the next generation, which it returns.
    std::uint64_t clear();
    std::uint64_t generation() const;
    std::size_t size() const;
    std::optional<DeviceRow> row(std::size_t index) const;
    // Writes address, mask and gateway into the row's record (not its key) and returns the row.
    std::optional<DeviceRow> setAddresses(std::size_t index, std::uint32_t address, std::uint32_t mask,
                                          std::uint32_t gateway);

private:
    // The key's hash; rows whose keys share a hash are told apart by comparing the rows.
    static std::size_t keyHash(std::uint32_t address, std::uint16_t port, const DeviceIdentity& identity);
    // The slot that holds the row with this key, or the empty slot where it belongs.
    std::size_t slotFor(std::size_t hash, std::uint32_t address, std::uint16_t port,
                        const DeviceIdentity& identity) const;
    // Doubles the slots when they are half full, so that probe runs stay short.
    void growSlots();

    mutable std::mutex m_mutex;
    std::vector<DeviceRow> m_rows;
    // Open addressing over the rows: each slot holds a row index + 1, or 0 when empty. A table
    // of thousands of rows is filled on the receive thread during a burst of replies, where a
    // node allocated per row would cost more than the row itself.
    std::vector<std::uint32_t> m_slots;
    std::vector<std::size_t> m_hashes; // of each row's key, for growing the slots
    std::uint64_t m_generation = 0;
};

#include "discovery/DeviceTable.h"

#include <algorithm>
#include <functional>
#include <string_view>

std::size_t DeviceTable::keyHash(std::uint32_t address, std::uint16_t port, const DeviceIdentity& identity) {
    const ByteView bytes = identity.bytes();
    const std::size_t where = std::hash<std::uint64_t>{}(std::uint64_t(address) << 16 | port);
    const std::size_t who = std::hash<std::string_view>{}(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    return where ^ (who + 0x9E3779B97F4A7C15ull + (where << 6) + (where >> 2));
}

std::size_t DeviceTable::slotFor(std::size_t hash, std::uint32_t address, std::uint16_t port,
                                 const DeviceIdentity& identity) const {
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const std::uint32_t held = m_slots[slot];
        if (held == 0) {
            return slot;
        }
        const DeviceRow& row = m_rows[held - 1];
        if (m_hashes[held - 1] == hash && row.address == address && row.port == port &&
            row.identity == identity) {
            return slot;
        }
    }
}

void DeviceTable::growSlots() {
    if (m_slots.size() >= 2 * (m_rows.size() + 1)) {
        return;
    }
    m_slots.assign(std::max<std::size_t>(64, m_slots.size() * 2), 0);
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t row = 0; row < m_rows.size(); ++row) {
        std::size_t slot = m_hashes[row] & mask;
        while (m_slots[slot] != 0) {
            slot = (slot + 1) & mask;
        }
        m_slots[slot] = std::uint32_t(row + 1);
    }
}

std::optional<DeviceTable::Added> DeviceTable::add(const DeviceNetRecord& record,
                                                   const DeviceIdentity& identity, std::uint32_t source) {
    const std::uint32_t address = record.address();
    const std::uint16_t port = record.port();
    const std::size_t hash = keyHash(address, port, identity);
    std::lock_guard lock(m_mutex);
    growSlots();
    const std::size_t slot = slotFor(hash, address, port, identity);
    if (m_slots[slot] != 0) {
        return std::nullopt;
    }
    m_rows.push_back(DeviceRow{address, port, record, identity, source});
    m_hashes.push_back(hash);
    m_slots[slot] = std::uint32_t(m_rows.size());
    return Added{m_rows.size() - 1, m_generation};
}

std::uint64_t DeviceTable::clear() {
    std::lock_guard lock(m_mutex);
    m_rows.clear();
    m_hashes.clear();
    m_slots.clear();
    return ++m_generation;
}

std::uint64_t DeviceTable::generation() const {
    std::lock_guard lock(m_mutex);
    return m_generation;
}

std::size_t DeviceTable::size() const {
    std::lock_guard lock(m_mutex);
    return m_rows.size();
}

std::optional<DeviceRow> DeviceTable::row(std::size_t index) const {
    std::lock_guard lock(m_mutex);
    if (index >= m_rows.size()) {
        return std::nullopt;
    }
    return m_rows[index];
}

std::optional<DeviceRow> DeviceTable::setAddresses(std::size_t index, std::uint32_t address,
                                                   std::uint32_t mask, std::uint32_t gateway) {
    std::lock_guard lock(m_mutex);
    if (index >= m_rows.size()) {
        return std::nullopt;
    }
    DeviceNetRecord& record = m_rows[index].record;
    record.setAddress(address);
    record.setMask(mask);
    record.setGateway(gateway);
    return m_rows[index];
}

// ClientStore: the in-memory index of the organisations and registered devices of the client's
// data file, built once when the discovery window opens, and the way the registration adds a
// device. Runs on the window's thread only.
#pragma once

#include "clientstore/ClientRecords.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>

class ClientStore {
public:
    // Shows one of the store's messages to the user (a plain OK box with the program's title in
    // the window, a line on standard error in a command-line tool).
    using MessageFunction = std::function<void(const std::string& text)>;

    // The process-wide store, created empty on first use.
    static ClientStore* instance();
    // Destroys the store and then releases ClientDataFile, without saving.
    static void release();

    // Where the duplicate and failure messages of addDevice go; without one they go to stderr.
    void setMessageFunction(MessageFunction show);

    // Fills the three maps from ClientDataFile (which is loaded on its first use).
    void load();
    // Records organisation `id` with its descendants. An entry with id 0, or with the id of an
    // organisation it lies inside, is passed over: loading it would never end.
    void loadOrganisation(std::uint32_t id, const char* name);
    // Adds one device with its channels to the document (nothing is saved) and to the maps.
    // Gives the new id, or 0 when the device was refused (with a message, except for an unknown
    // organisation) or not stored.
    std::uint32_t addDevice(const DeviceRecord& record);

    // Device id to the store's copy of its record.
    const std::map<std::uint32_t, DeviceRecord>& devices() const { return m_devices; }
    // Organisation id to its entry; entry 0 is the top level.
    const std::map<std::uint32_t, OrgEntry>& organisations() const { return m_organisations; }
    // Organisation id to the devices registered under it.
    const std::map<std::uint32_t, OrgDevices>& orgDevices() const { return m_orgDevices; }

private:
    ClientStore() = default;
    void show(const std::string& text) const;
    void fileDevice(const DeviceRecord& record);

    std::map<std::uint32_t, DeviceRecord> m_devices;
    std::map<std::uint32_t, OrgEntry> m_organisations;
    std::map<std::uint32_t, OrgDevices> m_orgDevices;
    MessageFunction m_show;
};

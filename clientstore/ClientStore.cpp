#include "clientstore/ClientStore.h"

#include "clientstore/ClientDataFile.h"

#include <iostream>
#include <set>
#include <vector>

namespace {

ClientStore* g_store = nullptr;

// How the store's messages name a text field of a record.
const char* textFieldName(RecordText field) {
    switch (field) {
    case RecordText::Name:
        return "name";
    case RecordText::Host:
        return "IP or domain name";
    case RecordText::UserName:
        return "user name";
    case RecordText::DdnsHost:
        return "DDNS host";
    }
    return "text";
}

} // namespace

ClientStore* ClientStore::instance() {
    if (g_store == nullptr) {
        g_store = new ClientStore;
    }
    return g_store;
}

void ClientStore::release() {
    delete g_store;
    g_store = nullptr;
    ClientDataFile::release();
}

void ClientStore::setMessageFunction(MessageFunction show) {
    m_show = std::move(show);
}

void ClientStore::show(const std::string& text) const {
    if (m_show) {
        m_show(text);
    } else {
        std::cerr << text << '\n';
    }
}

void ClientStore::fileDevice(const DeviceRecord& record) {
    m_devices.emplace(record.id, record);
    OrgDevices& org = m_orgDevices[record.orgId];
    org.orgId = record.orgId;
    org.devices.push_back(record.id);
}

void ClientStore::load() {
    loadOrganisation(0, "");
    ClientDataFile* file = ClientDataFile::instance();
    const int n = file->deviceCount();
    if (n <= 0) {
        return;
    }
    std::vector<DeviceRecord> records(static_cast<std::size_t>(n), DeviceRecord{});
    const auto bytes = static_cast<long long>(n) * static_cast<long long>(sizeof(DeviceRecord));
    if (bytes > INT32_MAX) {
        return; // far beyond any real file; getDevices could not be told the length
    }
    file->getDevices(records.data(), static_cast<int>(bytes));
    for (const DeviceRecord& record : records) {
        fileDevice(record);
    }
}

// Walks the organisation tree depth first with a stack of its own, so that a deeply nested file
// cannot exhaust the call stack. Each organisation is recorded after its descendants, and a later
// record of the same id replaces an earlier one.
void ClientStore::loadOrganisation(std::uint32_t id, const char* name) {
    ClientDataFile* file = ClientDataFile::instance();

    struct Frame {
        OrgEntry entry;
        std::vector<OrgListEntry> listed;
        std::size_t next = 0;
    };
    std::vector<Frame> stack;
    std::set<std::uint32_t> onPath;
    // Organisations already walked in this call: listed again (a file with repeated ids), they
    // take the later name but are not walked again, which could otherwise take exponential time.
    std::set<std::uint32_t> walked;

    // Lists the children of an organisation and puts it on the stack; an organisation whose
    // listing fails is not recorded.
    auto push = [&](std::uint32_t orgId, std::string_view orgName) {
        Frame frame;
        frame.entry.id = orgId;
        copyToField(frame.entry.name, orgName);
        const int n = file->orgChildCount(orgId);
        if (n > 0) {
            frame.listed.assign(static_cast<std::size_t>(n), OrgListEntry{});
            const auto bytes = static_cast<long long>(n) * static_cast<long long>(sizeof(OrgListEntry));
            if (bytes > INT32_MAX ||
                file->getOrgChildren(orgId, frame.listed.data(), static_cast<int>(bytes)) == 0) {
                return;
            }
        }
        onPath.insert(orgId);
        stack.push_back(std::move(frame));
    };

    push(id, name != nullptr ? std::string_view(name) : std::string_view());
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next < top.listed.size()) {
            const OrgListEntry child = top.listed[top.next++];
            // Id 0 is the top level itself (also what a child that is not an ORG lists as), and an
            // id already on the path is an organisation this one lies inside.
            if (child.id == 0 || onPath.count(child.id) != 0) {
                continue;
            }
            top.entry.children.push_back(child.id);
            if (walked.count(child.id) != 0) {
                copyToField(m_organisations[child.id].name, fieldText(child.name));
            } else {
                push(child.id, fieldText(child.name));
            }
            continue;
        }
        OrgEntry done = std::move(top.entry);
        onPath.erase(done.id);
        walked.insert(done.id);
        stack.pop_back();
        m_organisations[done.id] = std::move(done);
    }
}

std::uint32_t ClientStore::addDevice(const DeviceRecord& record) {
    if (m_organisations.find(record.orgId) == m_organisations.end()) {
        return 0;
    }
    // Text the file cannot hold is refused before anything touches the document.
    if (const auto unstorable = ClientDataFile::firstUnstorableText(record)) {
        show("The " + std::string(textFieldName(unstorable->field)) + " of this device cannot be saved: it " +
             std::string(unstorable->why) + ".");
        return 0;
    }

    ClientDataFile* file = ClientDataFile::instance();
    if (!file->loadedWhole()) {
        show("The data file " + file->path().string() + " cannot be used: " + file->loadError() + ".");
        return 0;
    }
    const std::string name(fieldText(record.name));
    const std::string host(fieldText(record.host));
    if (file->findDeviceByName(name.c_str()) > 0) {
        show("The name of this device has existed!");
        return 0;
    }
    if (record.ddnsFlag != 0) {
        const std::string ddnsHost(fieldText(record.ddnsHost));
        if (file->findDeviceByDdns(host.c_str(), ddnsHost.c_str(), record.ddnsPort) > 0) {
            show("The settings of DDNS has existed!");
            return 0;
        }
    } else if (file->findDeviceByAddress(host.c_str(), record.port) > 0) {
        show("IP or domain name of this device has existed!");
        return 0;
    }

    DeviceRecord copy = record;
    copy.id = 0; // only an id that the document wrote counts as stored
    const int added = file->addDevices(&copy, static_cast<int>(sizeof copy));
    if (added == 0 || static_cast<std::int32_t>(copy.id) <= 0) {
        show("XML failed!");
        return 0;
    }
    fileDevice(copy);
    return copy.id;
}

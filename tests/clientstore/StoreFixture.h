// A data file in a private XML folder, with the process-wide store pointed at it and its
// messages recorded instead of shown.
#pragma once

#include "clientstore/ClientDataFile.h"
#include "clientstore/ClientStore.h"
#include "tests/common/ChildProgram.h"
#include "tests/common/Files.h"
#include "tests/common/TempDir.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <regex>
#include <string>
#include <vector>

inline DeviceRecord makeRecord(const std::string& name, const std::string& host, std::uint32_t port,
                               std::int32_t channels, std::uint32_t orgId = 0,
                               const std::string& user = "user", const std::string& password = "pass") {
    DeviceRecord r{};
    copyToField(r.name, name);
    copyToField(r.host, host);
    copyToField(r.username, user);
    copyToField(r.password, password);
    r.channelCount = channels;
    r.port = port;
    r.orgId = orgId;
    return r;
}

// The lines of a saved file, each ended by CR LF.
inline std::string crlfLines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

// xmllint, an outside reader, accepts the file as well-formed XML.
inline bool xmllintAccepts(const std::filesystem::path& path) {
    return RunProgram({"xmllint", "--noout", path.string()}).status == 0;
}

// What xmllint makes of an XPath expression over the file.
inline std::string xpath(const std::filesystem::path& path, const std::string& expr) {
    std::string out = RunProgram({"xmllint", "--xpath", expr, path.string()}).out;
    while (!out.empty() && out.back() == '\n') {
        out.pop_back();
    }
    return out;
}

// The enciphered password values in a saved text, in order.
inline std::vector<std::string> passwordValues(const std::string& text) {
    std::vector<std::string> values;
    static const std::regex re("password=\"([^\"]*)\"");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it) {
        values.push_back((*it)[1].str());
    }
    return values;
}

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(dir / "XML");
        file = dir / "XML/Data.xml";
        ClientDataFile::setPath(file);
    }
    void TearDown() override {
        ClientStore::release();
        ClientDataFile::setPath({});
    }

    // The store as the discovery window opens it.
    ClientStore& openStore() {
        ClientStore* store = ClientStore::instance();
        store->setMessageFunction([this](const std::string& text) { messages.push_back(text); });
        store->load();
        return *store;
    }
    ClientStore& reopenStore() {
        ClientStore::release();
        return openStore();
    }
    ClientDataFile& data() { return *ClientDataFile::instance(); }

    // Saves and gives the bytes on disk.
    std::string saved() {
        EXPECT_TRUE(data().save());
        return ReadFile(file);
    }

    TempDir dir;
    std::filesystem::path file;
    std::vector<std::string> messages;
};

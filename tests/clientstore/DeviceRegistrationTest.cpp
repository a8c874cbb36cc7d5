#include "clientstore/DeviceRegistration.h"
#include "tests/clientstore/StoreFixture.h"

#include <functional>

namespace {

using Ids = std::vector<std::uint32_t>;
using Messages = std::vector<std::string>;

std::string repeated(std::string_view text, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

DeviceSettings gate() {
    DeviceSettings s;
    s.name = "Gate";
    s.userName = "admin";
    s.password = "pw";
    s.channelCount = 2;
    return s;
}

TEST(CheckDeviceSettings, EachRefusalNamesItsFieldAndText) {
    using F = RegistrationField;
    const struct Case {
        const char* what;
        std::function<void(DeviceSettings&)> change;
        std::size_t recorders;
        F field;
        std::string text;
        std::string detail;
    } cases[] = {
        {"blank name", [](auto& s) { s.name = " \t "; }, 1, F::DeviceName, "Device Name is invalid!", ""},
        {"Unicode blanks", [](auto& s) { s.name = "\xC2\xA0\xE3\x80\x80"; }, 1, F::DeviceName,
         "Device Name is invalid!", ""},
        {"name before count", [](auto& s) { s.name = "", s.channelCount = 0; }, 1, F::DeviceName,
         "Device Name is invalid!", ""},
        {"no channel", [](auto& s) { s.channelCount = 0; }, 1, F::ChannelCount,
         "The channel's number must be between 1 and 16!", ""},
        {"17 channels", [](auto& s) { s.channelCount = 17; }, 1, F::ChannelCount,
         "The channel's number must be between 1 and 16!", ""},
        {"name and counter", [](auto& s) { s.name.assign(63, 'n'), s.numbered = true; }, 1, F::DeviceName,
         "Device Name is too long!", "longer than 62 bytes"},
        {"name and counter 10", [](auto& s) { s.name.assign(62, 'n'), s.numbered = true; }, 10, F::DeviceName,
         "Device Name is too long!", "longer than 61 bytes"},
        {"name as given", [](auto& s) { s.name.assign(64, 'n'); }, 1, F::DeviceName,
         "Device Name is too long!", "longer than 63 bytes"},
        {"user name", [](auto& s) { s.userName.assign(64, 'u'); }, 1, F::UserName, "User Name is too long!",
         "longer than 63 bytes"},
        {"password in bytes", [](auto& s) { s.password = repeated("\xC3\xA9", 32); }, 1, F::Password,
         "Password is too long!", "longer than 63 bytes"},
        {"both quotes", [](auto& s) { s.name = "a\"b'c"; }, 1, F::DeviceName,
         "Device Name cannot be stored in the data file: it holds both a double and a single quote.", ""},
        {"control in name", [](auto& s) { s.name = "Ga\x01te"; }, 1, F::DeviceName,
         "Device Name cannot be stored in the data file: it holds a control character.", ""},
        {"blank around user", [](auto& s) { s.userName = " admin"; }, 1, F::UserName,
         "User Name cannot be stored in the data file: it begins or ends with a blank.", ""},
        {"tab in user", [](auto& s) { s.userName = "ad\tmin"; }, 1, F::UserName,
         "User Name cannot be stored in the data file: it holds a control character.", ""},
        {"more types than channels",
         [](auto& s) {
             s.cameraTypes = {0, 1, 1};
         },
         1, F::CameraTypes, "Too many camera types: 3 types for 2 channels", ""},
        {"unknown type",
         [](auto& s) {
             s.cameraTypes = {0, 2};
         },
         1, F::CameraTypes, "Unknown camera type 2: each type is 0 (normal camera) or 1 (speed dome)", ""},
    };
    for (const Case& c : cases) {
        DeviceSettings settings = gate();
        c.change(settings);
        const auto refusal = checkDeviceSettings(settings, c.recorders);
        ASSERT_TRUE(refusal.has_value()) << c.what;
        EXPECT_EQ(refusal->field, c.field) << c.what;
        EXPECT_EQ(refusal->text, c.text) << c.what;
        EXPECT_EQ(refusal->detail, c.detail) << c.what;
    }
}

TEST(CheckDeviceSettings, PassingSettingsHaveTheNameTrimmedAndNothingElseChanged) {
    const struct Case {
        std::function<void(DeviceSettings&)> change;
        std::string name;
    } cases[] = {
        {[](auto& s) { s.name = "  Gate \t"; }, "Gate"},
        {[](auto& s) { s.name = "\xC2\xA0Gate\xE2\x80\x80\xE3\x80\x80"; }, "Gate"},
        {[](auto& s) { s.name = "Front door"; }, "Front door"},
        {[](auto& s) { s.name = "Cam%d%s"; }, "Cam%d%s"},
        {[](auto& s) { s.name = "\xC3\xA9t\xC3\xA9"; }, "\xC3\xA9t\xC3\xA9"},
        {[](auto& s) { s.name.assign(62, 'n'), s.numbered = true; }, std::string(62, 'n')},
        {[](auto& s) { s.name.assign(63, 'n'); }, std::string(63, 'n')},
        {[](auto& s) { s.userName.assign(63, 'u'), s.password.assign(63, 'p'); }, "Gate"},
        // The password is enciphered: quotes and blanks are kept.
        {[](auto& s) { s.password = " a\"b'c "; }, "Gate"},
        {[](auto& s) { s.userName = "it's", s.channelCount = 16, s.cameraTypes.assign(16, 1); }, "Gate"},
        {[](auto& s) { s.channelCount = 1, s.cameraTypes = {1}; }, "Gate"},
    };
    for (const Case& c : cases) {
        DeviceSettings settings = gate();
        c.change(settings);
        const DeviceSettings before = settings;
        const auto refusal = checkDeviceSettings(settings);
        EXPECT_FALSE(refusal.has_value()) << c.name << ": " << (refusal ? refusal->text : "");
        EXPECT_EQ(settings.name, c.name);
        EXPECT_EQ(settings.userName, before.userName);
        EXPECT_EQ(settings.password, before.password);
        EXPECT_EQ(settings.cameraTypes, before.cameraTypes);
    }
}

class RegisterDevicesTest : public StoreTest {};

TEST_F(RegisterDevicesTest, EachRecorderIsAddedNumberedWithItsCameraTypesAndSavedOnce) {
    openStore();
    DeviceSettings settings = gate();
    settings.name = "  Gate ";
    settings.numbered = true;
    settings.cameraTypes = {0, 1};
    const RegistrationResult result =
        registerDevices(settings, {{"192.168.1.20", 37777}, {"192.168.1.21", 37778}});
    ASSERT_EQ(result.outcome, RegistrationOutcome::Registered);
    EXPECT_EQ(result.ids, (Ids{1, 6}));
    EXPECT_TRUE(messages.empty());
    ASSERT_TRUE(xmllintAccepts(file));
    EXPECT_EQ(xpath(file, "string(//DEV[@id=1]/@name)"), "Gate1");
    EXPECT_EQ(xpath(file, "string(//DEV[@id=6]/@host)"), "192.168.1.21");
    EXPECT_EQ(xpath(file, "string(//DEV[@id=6]/@port)"), "37778");
    EXPECT_EQ(xpath(file, "string(//DEV[@name='Gate2_1']/@CameraType)"), "0");
    EXPECT_EQ(xpath(file, "string(//DEV[@name='Gate2_2']/@CameraType)"), "1");
    EXPECT_EQ(xpath(file, "string(//GLOBAL/@index)"), "11");
}

TEST_F(RegisterDevicesTest, WhatIsNotRegisteredLeavesTheFileAsItWas) {
    openStore();
    ASSERT_EQ(registerDevices(gate(), {{"10.0.0.1", 37777}}).outcome, RegistrationOutcome::Registered);
    const std::string before = ReadFile(file);
    const struct Case {
        std::function<void(DeviceSettings&)> change;
        RegistrationOutcome outcome;
        Messages messages;
    } cases[] = {
        {[](auto& s) { s.name = " "; }, RegistrationOutcome::Invalid, {}},
        {[](auto& s) { s.orgId = 9; }, RegistrationOutcome::UnknownOrganisation, {}},
        {[](auto&) {}, RegistrationOutcome::StoreRefused, {"The name of this device has existed!"}},
        {[](auto& s) { s.name = "Door"; },
         RegistrationOutcome::StoreRefused,
         {"IP or domain name of this device has existed!"}},
    };
    for (const Case& c : cases) {
        messages.clear();
        DeviceSettings settings = gate();
        c.change(settings);
        const RegistrationResult result = registerDevices(settings, {{"10.0.0.1", 37777}});
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.refusal.has_value(), c.outcome == RegistrationOutcome::Invalid);
        EXPECT_TRUE(result.ids.empty());
        EXPECT_EQ(messages, c.messages);
        EXPECT_EQ(ReadFile(file), before);
    }
}

TEST_F(RegisterDevicesTest, ASaveThatFailsIsTheOutcome) {
    ClientDataFile::setPath(dir / "missing/Data.xml");
    openStore();
    const RegistrationResult result = registerDevices(gate(), {{"10.0.0.1", 37777}});
    EXPECT_EQ(result.outcome, RegistrationOutcome::SaveFailed);
    EXPECT_EQ(result.ids, Ids{1});
    EXPECT_FALSE(data().saveError().empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

} // namespace

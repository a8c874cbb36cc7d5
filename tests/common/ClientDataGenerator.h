// Generates client data files of the shape the discovery tool reads and writes (a declaration,
// DATAROOT with ORGINFO, DEVINFO and GLOBAL; devices with their video and alarm channels), laid
// out as the tool saves them: TAB indentation and CR LF line ends. Tests and benchmarks of the XML
// engine and of the data store share it, so that both work on the same large file.
//
// Every value is a function of the device and channel number, so a reader can check each
// attribute it loads against deviceAttributes() and channelAttributes().
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace clientdata {

using Attributes = std::vector<std::pair<std::string, std::string>>;

// Organisations 1 to kOrganisations; 2 and 3 lie inside 1, the others at the top level.
constexpr int kOrganisations = 6;

// The id of device d (0-based) in a file whose devices have channels channels each: devices and
// channels share one counter, a device with c channels taking 2c + 1 ids.
inline std::uint32_t deviceId(int d, int channels) {
    return 1 + static_cast<std::uint32_t>(d) * static_cast<std::uint32_t>(2 * channels + 1);
}

inline std::string deviceName(int d) {
    char text[32];
    std::snprintf(text, sizeof text, "Hall%05d", d);
    return text;
}

// A stand-in for the enciphered password: base64-like text of 44 bytes, different per device.
inline std::string devicePassword(int d) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    std::uint32_t state = 2166136261u ^ static_cast<std::uint32_t>(d);
    for (int i = 0; i < 43; ++i) {
        state = state * 16777619u + 12345u;
        text.push_back(alphabet[(state >> 10) & 63]);
    }
    text.push_back('=');
    return text;
}

// The attributes of device d, in the order the tool creates them.
inline Attributes deviceAttributes(int d, int channels) {
    char host[32];
    std::snprintf(host, sizeof host, "10.%d.%d.%d", (d >> 16) & 255, (d >> 8) & 255, d & 255);
    return {
        {"id", std::to_string(deviceId(d, channels))},
        {"ip", "0"},
        {"name", deviceName(d)},
        {"host", host},
        {"port", std::to_string(37777 + d % 1000)},
        {"cameras", std::to_string(channels)},
        {"ddnsFlag", d % 7 == 0 ? "1" : "0"},
        {"DDNSHost", d % 7 == 0 ? "ddns.example.net" : ""},
        {"DDNSPort", d % 7 == 0 ? "8080" : "0"},
        {"desc", ""},
        {"username", "admin" + std::to_string(d % 10)},
        {"OrgId", std::to_string(d % (kOrganisations + 1))},
        {"password", devicePassword(d)},
    };
}

// The attributes of channel n (1-based) of device d: video when alarm is false.
inline Attributes channelAttributes(int d, int channels, int n, bool alarm) {
    const std::uint32_t id = deviceId(d, channels) + static_cast<std::uint32_t>(2 * n - (alarm ? 0 : 1));
    Attributes attributes = {
        {"id", std::to_string(id)},
        {"type", alarm ? "1" : "0"},
        {"name", deviceName(d) + (alarm ? "_alarm" : "_") + std::to_string(n)},
        {"channel", std::to_string(n - 1)},
        {"desc", ""},
    };
    if (!alarm) {
        attributes.emplace_back("CameraType", (d + n) % 3 == 0 ? "1" : "0");
    }
    return attributes;
}

namespace detail {

inline void appendElement(std::string& out, int depth, const char* name, const Attributes& attributes,
                          bool empty) {
    out.append(static_cast<std::size_t>(depth), '\t');
    out += '<';
    out += name;
    for (const auto& [key, value] : attributes) {
        out += ' ';
        out += key;
        out += "=\"";
        out += value;
        out += '"';
    }
    out += empty ? "/>\r\n" : ">\r\n";
}

} // namespace detail

// The whole file: devices devices of channels channels each (10,000 of 16 make about 26 MB).
inline std::string makeClientDataFile(int devices, int channels) {
    std::string out;
    out.reserve(static_cast<std::size_t>(devices) * (300 + static_cast<std::size_t>(channels) * 150) + 1024);
    out += "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<DATAROOT>\r\n\t<ORGINFO>\r\n";
    for (int org = 1; org <= kOrganisations; ++org) {
        const Attributes attributes = {{"id", std::to_string(org)}, {"name", "Site " + std::to_string(org)}};
        if (org == 2 || org == 3) {
            continue;
        }
        if (org == 1) {
            detail::appendElement(out, 2, "ORG", attributes, false);
            detail::appendElement(out, 3, "ORG", {{"id", "2"}, {"name", "Site 2"}}, true);
            detail::appendElement(out, 3, "ORG", {{"id", "3"}, {"name", "Site 3"}}, true);
            out += "\t\t</ORG>\r\n";
        } else {
            detail::appendElement(out, 2, "ORG", attributes, true);
        }
    }
    out += "\t</ORGINFO>\r\n\t<DEVINFO>\r\n";
    for (int d = 0; d < devices; ++d) {
        detail::appendElement(out, 2, "DEV", deviceAttributes(d, channels), channels == 0);
        if (channels == 0) {
            continue;
        }
        for (int n = 1; n <= channels; ++n) {
            detail::appendElement(out, 3, "DEV", channelAttributes(d, channels, n, false), true);
            detail::appendElement(out, 3, "DEV", channelAttributes(d, channels, n, true), true);
        }
        out += "\t\t</DEV>\r\n";
    }
    out += "\t</DEVINFO>\r\n";
    detail::appendElement(out, 1, "GLOBAL", {{"index", std::to_string(deviceId(devices, channels))}}, true);
    out += "</DATAROOT>\r\n";
    return out;
}

} // namespace clientdata

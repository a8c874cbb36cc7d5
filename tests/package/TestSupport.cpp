#include "tests/package/TestSupport.h"

#include "package/RomImage.h"

#include <filesystem>
#include <iterator>
#include <map>

namespace fs = std::filesystem;

namespace {
std::uint32_t Next(std::uint32_t& s) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
}
} // namespace

Bytes RandomBytes(std::size_t n, std::uint32_t seed) {
    Bytes b(n);
    std::uint32_t s = seed | 1;
    for (auto& c : b)
        c = static_cast<std::uint8_t>(Next(s) >> 24);
    return b;
}

Bytes TextBytes(std::size_t n, std::uint32_t seed) {
    static const char* const words[] = {"<div class=\"row\">",
                                        "</div>",
                                        "<td>",
                                        "</td>",
                                        "channel",
                                        "record",
                                        "video",
                                        "alarm",
                                        "network",
                                        "function",
                                        "var ",
                                        "= ",
                                        ";\n",
                                        "if (",
                                        ") {",
                                        "}\n",
                                        "<a href=\"",
                                        "\">",
                                        "</a>\n"};
    Bytes b;
    b.reserve(n);
    std::uint32_t s = seed | 1;
    while (b.size() < n) {
        const char* w = words[Next(s) % std::size(words)];
        for (; *w && b.size() < n; ++w)
            b.push_back(static_cast<std::uint8_t>(*w));
        if (Next(s) % 7 == 0 && b.size() < n)
            b.push_back(static_cast<std::uint8_t>('0' + Next(s) % 10));
    }
    return b;
}

int WriteImage(const std::string& out, const std::vector<std::string>& inputs, unsigned nThreads) {
    std::vector<const char*> argv{"mkcramfs", out.c_str()};
    for (const auto& i : inputs)
        argv.push_back(i.c_str());
    argv.push_back(nullptr);
    RomImageOptions options;
    options.nThreads = nThreads;
    return WriteRomImage(static_cast<int>(argv.size() - 1), argv.data(), options);
}

ChildResult Fsck(const std::vector<std::string>& args) {
    std::vector<std::string> argv{FindProgram("fsck.cramfs")};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv);
}

std::string CheckWithFsck(const std::string& image, const std::vector<std::pair<std::string, Bytes>>& files,
                          std::string* listing) {
    ChildResult v = Fsck({"-v", image});
    if (v.status != 0)
        return "fsck.cramfs -v failed (" + std::to_string(v.status) + "): " + v.out + v.err;
    TempDir dir;
    std::string root = dir / "x";
    ChildResult x = Fsck({"-v", "--extract=" + root, image});
    if (x.status != 0)
        return "fsck.cramfs --extract failed (" + std::to_string(x.status) + "): " + x.out + x.err;
    if (listing)
        *listing = x.out;
    std::map<std::string, Bytes> expected(files.begin(), files.end());
    std::size_t found = 0;
    for (const auto& e : fs::directory_iterator(root)) {
        std::string name = e.path().filename().string();
        auto it = expected.find(name);
        if (it == expected.end())
            return "unexpected file " + name;
        if (ReadBytes(e.path()) != it->second)
            return "content differs: " + name;
        ++found;
    }
    if (found != expected.size())
        return "extracted " + std::to_string(found) + " files, expected " + std::to_string(expected.size());
    return {};
}

std::uint32_t Get32(const Bytes& b, std::size_t off) {
    return b.at(off) | b.at(off + 1) << 8 | b.at(off + 2) << 16 |
           static_cast<std::uint32_t>(b.at(off + 3)) << 24;
}

std::uint16_t Get16(const Bytes& b, std::size_t off) {
    return static_cast<std::uint16_t>(b.at(off) | b.at(off + 1) << 8);
}

void Put32(Bytes& b, std::size_t off, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.at(off + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

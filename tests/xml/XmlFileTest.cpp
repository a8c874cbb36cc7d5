// Reading files into parse buffers.
#include "xml/XmlFile.h"
#include "tests/common/Files.h"
#include "tests/common/TempDir.h"
#include "tests/xml/XmlTestSupport.h"
#include "xml/XmlParser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

struct Loaded {
    bool ok = false;
    std::string text;
    std::size_t count = 0;
    bool bufferNull = true;
};

Loaded loadInChunks(const std::string& path, std::size_t chunk = 4096) {
    Loaded result;
    char* buffer = reinterpret_cast<char*>(0x1); // must be overwritten
    result.ok = loadTextFile(path.c_str(), &buffer, &result.count, chunk);
    result.bufferNull = buffer == nullptr;
    if (buffer) {
        result.text = buffer;
        std::free(buffer);
    }
    return result;
}

std::string patterned(std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text += static_cast<char>('a' + i % 26);
    }
    return text;
}

} // namespace

TEST(XmlFile, ReadsAWholeFile) {
    TempDir dir;
    const std::string path = (dir / "f.xml").string();
    const std::string content = patterned(10000);
    WriteFile(path, content);
    const Loaded loaded = loadInChunks(path);
    EXPECT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.count, 10000u);
    EXPECT_EQ(loaded.text, content);
}

TEST(XmlFile, AZeroByteCutsTheRestOfItsChunk) {
    // Chunks of 4095 bytes: [0, 4095), [4095, 8190), [8190, 10000).
    TempDir dir;
    const std::string path = (dir / "f.xml").string();
    std::string content = patterned(10000);
    content[100] = '\0';
    content[9000] = '\0';
    WriteFile(path, content);
    const Loaded loaded = loadInChunks(path);
    EXPECT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.count, 10000u);
    EXPECT_EQ(loaded.text, content.substr(0, 100) + content.substr(4095, 4095) + content.substr(8190, 810));
}

TEST(XmlFile, SmallChunks) {
    TempDir dir;
    const std::string path = (dir / "f.xml").string();
    WriteFile(path, "<a/>");
    const Loaded loaded = loadInChunks(path, 2);
    EXPECT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.text, "<a/>");
    EXPECT_FALSE(loadInChunks(path, 1).ok);
    EXPECT_FALSE(loadInChunks(path, 0).ok);
}

TEST(XmlFile, NothingToRead) {
    TempDir dir;
    const std::string empty = (dir / "empty.xml").string();
    WriteFile(empty, "");
    for (const std::string& path : {(dir / "missing.xml").string(), empty, dir.path().string()}) {
        SCOPED_TRACE(path);
        const Loaded loaded = loadInChunks(path);
        EXPECT_FALSE(loaded.ok);
        EXPECT_TRUE(loaded.bufferNull);
        EXPECT_EQ(loaded.count, 0u);
    }
    char* buffer = nullptr;
    std::size_t count = 0;
    EXPECT_FALSE(loadTextFile(nullptr, &buffer, &count, 4096));
    EXPECT_FALSE(loadTextFile(empty.c_str(), nullptr, &count, 4096));
    EXPECT_FALSE(loadTextFile(empty.c_str(), &buffer, nullptr, 4096));
}

TEST(XmlFile, ParserLoadsAFile) {
    TempDir dir;
    const std::string path = (dir / "Data.xml").string();
    WriteFile(path, "<?xml version=\"1.0\"?>\r\n<DATAROOT>\r\n\t<GLOBAL index=\"6\"/>\r\n</DATAROOT>\r\n");
    XmlParser parser;
    ASSERT_TRUE(parser.loadFile(path.c_str()));
    EXPECT_EQ(parser.root().firstByName("GLOBAL").attribute("index").text(), "6");
    EXPECT_EQ(parser.growthStep(), 4u);
    EXPECT_EQ(parser.options(), XmlParser::ParseDefault);

    XmlParser missing;
    EXPECT_FALSE(missing.loadFile((dir / "none.xml").string().c_str()));
    EXPECT_TRUE(missing.root().isDocument());
    EXPECT_EQ(missing.root().childCount(), 0u);
}

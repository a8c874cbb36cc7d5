// Images near the size limits (hundreds of megabytes in memory; labelled slow): the size
// estimate's cap, the guard that keeps the writer inside its allocation, and the largest data
// offset.
#include "tests/package/TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

const std::string kMkcramfs = std::string(KST_BIN_DIR) + "/mkcramfs";

// Random blocks do not compress: each 4096-byte block becomes a 4107-byte stored zlib stream,
// so a full-size file of 4096 blocks takes 4096 * (4 + 4107) bytes of the image.
constexpr std::size_t kFull = 16777215;

TEST(MkcramfsHuge, OversizedImagesFailCleanly) {
    TempDir dir;
    // One file under seventeen names (each input needs a name of its own in the image).
    WriteFile(dir / "r", RandomBytes(kFull, 31));
    std::vector<std::string> argv{kMkcramfs, dir / "img"};
    for (int i = 0; i < 17; ++i) {
        std::string name = dir / ("r" + std::to_string(10 + i));
        ASSERT_EQ(::link((dir / "r").c_str(), name.c_str()), 0);
        argv.push_back(name);
    }

    // Seventeen full files: the estimate passes the cap, and the last file would start beyond
    // the largest data offset.
    ChildResult r = RunProgram(argv);
    EXPECT_EQ(r.status, 8);
    EXPECT_EQ(r.err, "warning: guestimate of required size (upper bound) is 273MB, but maximum image size is "
                     "272MB.  We might die prematurely.\n"
                     "filesystem too big.  Exiting.\n");
    EXPECT_FALSE(FileExists(dir / "img"));

    // A 3850-block file first ("q" sorts before "r") moves the sixteenth full file to start just
    // below the largest data offset, where its data would run past the capped allocation.
    WriteFile(dir / "q", RandomBytes(3850 * 4096, 32));
    argv.resize(2 + 16);
    argv.push_back(dir / "q");
    r = RunProgram(argv);
    EXPECT_EQ(r.status, 8);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1),
              "warning: guestimate of required size (upper bound) is 273MB, but maximum image size is "
              "272MB.  We might die prematurely.\n");
    EXPECT_NE(r.err.find("not enough space allocated for ROM image (285229051 allocated, "),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(FileExists(dir / "img"));
}

} // namespace

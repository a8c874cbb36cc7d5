// Compressed ROM file system (cramfs) image writer.
//
// WriteRomImage packs a list of files into a one-level cramfs image whose root directory holds
// exactly those files, each cut into 4096-byte blocks compressed one by one with zlib. It keeps
// the manner of a command-line tool: progress on standard output, warnings and errors on standard
// error, and an exit status as its result. Unlike a command-line tool it never ends the process:
// on a failure it prints its message, releases what it took and returns the status, so one bad
// input cannot take down the window that called it.
#pragma once

#include <cstdint>
#include <string_view>

// Image layout and limits.
inline constexpr std::uint32_t kRomMagic = 0x28CD3D45;
inline constexpr std::uint32_t kRomFlags = 3; // file system id version 2, sorted directories
inline constexpr std::size_t kRomBlockSize = 4096;
inline constexpr std::size_t kRomSuperSize = 76;
inline constexpr std::size_t kRomInodeSize = 12;
inline constexpr std::uint16_t kRomRootMode = 0x41FF; // directory, permissions 0777
// Base names longer than this are cut (with the end-of-run name warning): the inode's 6-bit name
// length field counts 4-byte units, so 252 bytes is the longest name an inode can describe.
inline constexpr std::size_t kRomMaxNameStored = 252;
inline constexpr std::uint32_t kRomMaxFileSize = 0xFFFFFF;
inline constexpr std::size_t kRomMaxCompressedBlock = 2 * kRomBlockSize;
inline constexpr std::uint32_t kRomMaxDataOffset = 0x0FFFFFFF;
inline constexpr std::uint32_t kRomEstimateCap = 0x11003FFB; // "272 MB" in the warning

// Superblock field offsets.
inline constexpr std::size_t kRomOffMagic = 0;
inline constexpr std::size_t kRomOffSize = 4;
inline constexpr std::size_t kRomOffFlags = 8;
inline constexpr std::size_t kRomOffSignature = 16;
inline constexpr std::size_t kRomOffCrc = 32;
inline constexpr std::size_t kRomOffEdition = 36;
inline constexpr std::size_t kRomOffBlocks = 40;
inline constexpr std::size_t kRomOffFiles = 44;
inline constexpr std::size_t kRomOffName = 48;
inline constexpr std::size_t kRomOffRootInode = 64;

// Exit statuses of WriteRomImage (and of the mkcramfs program).
inline constexpr int kRomExitOk = 0;      // also after the usage message
inline constexpr int kRomExitFailure = 1; // output or input cannot be opened or read, no memory for data
inline constexpr int kRomExitFatal = 8;   // image too big, block too big, write failed
inline constexpr int kRomExitStatFailed = 16;

struct RomImageOptions {
    // Threads that compress blocks; 0 means one per core. The image is the same byte for byte
    // whatever the count: each block is compressed on its own and the blocks are placed in order.
    unsigned nThreads = 0;
};

// Writes the image: argv[0] is the program word, argv[1] the output path, argv[2] onward the
// input paths (any order; the directory is sorted by base name). Returns kRomExitOk after the
// image has been written and closed, or the exit status of the failure after printing its
// message. With fewer than 3 arguments prints the usage message and returns kRomExitOk without
// touching any file. Every input is read before the output is touched; two inputs that would get
// the same name in the image, and an output that is also an input, are refused. The image is
// written beside the output and renamed over it once whole, so after a failure the output holds
// what it held before.
int WriteRomImage(int argc, const char* const argv[]);
int WriteRomImage(int argc, const char* const argv[], const RomImageOptions& options);

// Base name of a path: the text after the last '/'; without '/', after the last '\'; without
// either, the whole path.
std::string_view BaseNameOf(std::string_view path);

#include "package/RomImage.h"

#include "package/BlockCompressor.h"
#include "package/ImageOutput.h"
#include "package/InputArena.h"
#include "package/PositionalOutput.h"

#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr char kSignature[16] = {'C', 'o', 'm', 'p', 'r', 'e', 's', 's',
                                 'e', 'd', ' ', 'R', 'O', 'M', 'F', 'S'};
constexpr char kVolumeName[] = "Compressed";

void Put32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

std::uint64_t RoundUp(std::uint64_t v, std::uint64_t unit) {
    return (v + unit - 1) / unit * unit;
}

// The three words of an inode; name length and offset are in 4-byte units.
void PutInode(std::uint8_t* p, std::uint16_t mode, std::uint16_t uid, std::uint32_t size, std::uint8_t gid,
              std::uint32_t nameUnits, std::uint32_t offsetUnits) {
    Put32(p, mode | static_cast<std::uint32_t>(uid) << 16);
    Put32(p + 4, (size & 0xFFFFFF) | static_cast<std::uint32_t>(gid) << 24);
    Put32(p + 8, (nameUnits & 0x3F) | offsetUnits << 6);
}

struct RomEntry {
    std::string name;
    const char* path = nullptr; // as given, for the messages
    std::uint16_t mode = 0;
    std::uint32_t size = 0;
    std::uint16_t uid = 0;
    std::uint8_t gid = 0;
    const std::uint8_t* data = nullptr; // the whole content, in the writer's input arena
    std::size_t inodeOffset = 0;
    std::size_t dataOffset = 0;
    std::vector<RomEntry> children; // only the root has any: the sorted file entries
};

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Reads exactly n bytes; false with errno set when the file ends early or reading fails.
bool ReadExactly(int fd, std::uint8_t* buf, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
        ssize_t r = ::read(fd, buf + got, n - got);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (r == 0) {
            errno = EIO; // the file shrank after its size was taken
            return false;
        }
        got += static_cast<std::size_t>(r);
    }
    return true;
}

// Zero bytes for alignment and the final padding, which is never longer than a block.
constexpr std::uint8_t kZeros[kRomBlockSize] = {};

class RomImageWriter {
public:
    RomImageWriter(int argc, const char* const argv[], const RomImageOptions& options)
        : m_argc(argc), m_argv(argv), m_options(options) {}

    int Run();

private:
    int Build();
    int NameInputs();
    int ReadInputs();
    int OpenOutput();
    int ReadInput(const char* path, RomEntry& entry);
    int WriteDirectory();
    int WriteData();
    // One file's block pointer table, its compressed blocks and the alignment after them.
    int WriteFileData(RomEntry& e);
    int WriteBlocks(std::uint32_t count, uLong& bodyCrc);
    // A run of compressed blocks lying back to back in the image, written with one call once
    // the run ends: at the next file, or before the compressor moves on to its next batch and
    // reuses the memory the run points into.
    void FlushRun();
    void AppendToRun(const void* data, std::size_t len);
    void CapEstimate();
    // Zeros up to the next block boundary: the image is a whole number of blocks.
    int PadToBlock();
    void FillSuperblock();
    int WriteSuperblock();
    bool Fits(std::uint64_t end);

    int m_argc;
    const char* const* m_argv;
    RomImageOptions m_options;

    ImageOutput m_out;
    std::vector<std::pair<dev_t, ino_t>> m_inputIds; // to tell an output that is also an input
    RomEntry m_root;
    std::uint64_t m_estimate = kRomSuperSize;
    std::uint32_t m_dirSize = 0; // D
    std::uint32_t m_blocks = 0;
    std::uint32_t m_files = 1; // the root
    bool m_nameWarning = false;
    bool m_sizeWarning = false;
    // The inputs stay until the writer goes: the image is never held whole, so the memory peaks
    // once all inputs are read, whether or not each were released after its blocks.
    InputArena m_inputs;
    // After m_inputs: it compresses the inputs, so it must stop before they are unmapped.
    std::unique_ptr<BlockCompressor> m_compressor;
    // The superblock and the directory; the file data goes from the compressor's buffers
    // straight to the output, so the image is never copied into one block of memory.
    std::vector<std::uint8_t> m_header;
    PositionalOutput m_output;
    std::size_t m_offset = 0;
    std::size_t m_dirEnd = 0;               // 76 + D: where the file data begins
    uLong m_dataCrc = crc32(0L, Z_NULL, 0); // checksum of the image from m_dirEnd to m_offset
    std::vector<std::uint8_t> m_table;      // the block pointers of the file being written
    std::vector<iovec> m_run;
    std::uint64_t m_runOffset = 0;
    std::size_t m_nextBlock = 0; // the compressor's number of the next block
    std::size_t m_runBatch = static_cast<std::size_t>(-1);
};

int RomImageWriter::Run() {
    int status = Build();
    // The output is replaced only by a whole image; after a failure it keeps what it held.
    if (status != kRomExitOk)
        m_out.Discard();
    return status;
}

// Names the entries and sorts them by name, bytewise as unsigned values; a stable sort keeps
// equal names in input order. Two inputs that would get one name are refused: the recorder
// would keep only one of them.
int RomImageWriter::NameInputs() {
    try {
        m_root.children.resize(static_cast<std::size_t>(m_argc - 2));
        for (int i = 2; i < m_argc; ++i) {
            RomEntry& e = m_root.children[static_cast<std::size_t>(i - 2)];
            e.path = m_argv[i];
            e.name = BaseNameOf(m_argv[i]);
            // Longer names are cut (with the end-of-run warning).
            if (e.name.size() > kRomMaxNameStored) {
                e.name.resize(kRomMaxNameStored);
                m_nameWarning = true;
            }
        }
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        std::perror(nullptr);
        return kRomExitFatal;
    }
    std::stable_sort(m_root.children.begin(), m_root.children.end(),
                     [](const RomEntry& a, const RomEntry& b) { return a.name < b.name; });
    for (std::size_t i = 1; i < m_root.children.size(); ++i) {
        const RomEntry& a = m_root.children[i - 1];
        const RomEntry& b = m_root.children[i];
        if (a.name == b.name && !a.name.empty()) {
            std::fprintf(stderr, "%s and %s would both be named %s in the image\n", a.path, b.path,
                         a.name.c_str());
            return kRomExitFailure;
        }
    }
    return kRomExitOk;
}

// The workers start on the first inputs while the later ones are still being read; nothing
// is printed until all are in, so a failing input is reported just as if none had begun.
int RomImageWriter::ReadInputs() {
    m_compressor = std::make_unique<BlockCompressor>(m_options.nThreads);
    for (RomEntry& e : m_root.children) {
        if (int status = ReadInput(e.path, e); status != kRomExitOk)
            return status;
        m_compressor->AddFile(e.data, e.size);
    }
    m_compressor->Finish();
    return kRomExitOk;
}

// Only once every input has been read: an output that is one of them is refused (the image
// would replace what it was made of), and the image goes into a file of its own until whole.
int RomImageWriter::OpenOutput() {
    struct stat st {};
    if (::stat(m_argv[1], &st) == 0) {
        for (const auto& [dev, ino] : m_inputIds) {
            if (st.st_dev == dev && st.st_ino == ino) {
                std::fprintf(stderr, "%s is one of the input files\n", m_argv[1]);
                return kRomExitFailure;
            }
        }
    }
    if (!m_out.Open(m_argv[1])) {
        std::perror("fopen");
        return kRomExitFailure;
    }
    m_output.Attach(m_out.Fd());
    return kRomExitOk;
}

int RomImageWriter::Build() {
    if (m_argc < 3) {
        std::fprintf(stderr, "usage: %s  outfile infile1 infile2 ...\n", m_argc > 0 ? m_argv[0] : "mkcramfs");
        return kRomExitOk;
    }
    m_root.mode = kRomRootMode;
    if (int status = NameInputs(); status != kRomExitOk)
        return status;
    if (int status = ReadInputs(); status != kRomExitOk)
        return status;
    if (m_dirSize > kRomMaxFileSize) {
        // The root inode's 24-bit size field could not describe the directory.
        std::fprintf(stderr, "filesystem too big.  Exiting.\n");
        return kRomExitFatal;
    }
    if (int status = OpenOutput(); status != kRomExitOk)
        return status;
    CapEstimate();
    std::size_t headerSize = kRomSuperSize + m_dirSize;
    try {
        m_header.assign(headerSize, 0);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "malloc %d bytes fail\n", static_cast<int>(headerSize));
        return kRomExitFailure;
    }

    if (int status = WriteDirectory(); status != kRomExitOk)
        return status;
    if (int status = WriteData(); status != kRomExitOk)
        return status;
    if (int status = PadToBlock(); status != kRomExitOk)
        return status;
    FillSuperblock();
    if (int status = WriteSuperblock(); status != kRomExitOk)
        return status;

    if (m_nameWarning)
        std::fprintf(stderr, "warning: filenames truncated to %d bytes.\n",
                     static_cast<int>(kRomMaxNameStored));
    if (m_sizeWarning)
        std::fprintf(stderr, "warning: file sizes truncated to %luMB (minus 1 byte).\n", 16ul);

    if (const char* step = nullptr; !m_out.Commit(&step)) {
        std::perror(step);
        return kRomExitFatal;
    }
    return kRomExitOk;
}

void RomImageWriter::CapEstimate() {
    m_estimate = RoundUp(m_estimate, kRomBlockSize);
    if (m_estimate > kRomEstimateCap) {
        std::fprintf(stderr,
                     "warning: guestimate of required size (upper bound) is %dMB, but maximum image size is "
                     "%uMB.  We might die prematurely.\n",
                     static_cast<int>(m_estimate / 1048576), 272u);
        m_estimate = kRomEstimateCap;
    }
}

int RomImageWriter::PadToBlock() {
    std::size_t end = RoundUp(m_offset, kRomBlockSize);
    if (!Fits(end))
        return kRomExitFatal;
    m_output.Write(m_offset, kZeros, end - m_offset);
    m_dataCrc = crc32(m_dataCrc, kZeros, static_cast<uInt>(end - m_offset));
    m_offset = end;
    std::printf("Everything: %d kilobytes\n", static_cast<int>(m_offset / 1024));
    return kRomExitOk;
}

void RomImageWriter::FillSuperblock() {
    std::uint8_t* head = m_header.data();
    Put32(head + kRomOffMagic, kRomMagic);
    Put32(head + kRomOffSize, static_cast<std::uint32_t>(m_offset));
    Put32(head + kRomOffFlags, kRomFlags);
    std::memcpy(head + kRomOffSignature, kSignature, sizeof kSignature);
    Put32(head + kRomOffCrc, 0);
    Put32(head + kRomOffEdition, 0);
    Put32(head + kRomOffBlocks, m_blocks);
    Put32(head + kRomOffFiles, m_files);
    std::memset(head + kRomOffName, 0, 16);
    std::memcpy(head + kRomOffName, kVolumeName, sizeof kVolumeName - 1);
    PutInode(head + kRomOffRootInode, kRomRootMode, 0, m_dirSize, 0, 0, kRomSuperSize / 4);
    std::printf("Super block: %d bytes\n", static_cast<int>(kRomSuperSize));

    // The file data's share of the checksum was taken as it was written, while the other
    // threads compressed; the superblock and the directory are all that remain.
    uLong headCrc = crc32(crc32(0L, Z_NULL, 0), head, static_cast<uInt>(m_dirEnd));
    std::uint32_t crc = static_cast<std::uint32_t>(
        crc32_combine(headCrc, m_dataCrc, static_cast<z_off_t>(m_offset - m_dirEnd)));
    Put32(head + kRomOffCrc, crc);
    std::printf("CRC: %x\n", crc);
}

int RomImageWriter::WriteSuperblock() {
    if (m_estimate < m_offset) {
        std::fprintf(stderr, "not enough space allocated for ROM image (%d allocated, %d used)\n",
                     static_cast<int>(m_estimate), static_cast<int>(m_offset));
        return kRomExitFatal;
    }
    // The superblock goes last: until it is written the file is no image.
    m_output.Write(0, m_header.data(), m_dirEnd);
    if (m_output.Failed() || m_output.Written() != m_offset) {
        std::fprintf(stderr, "ROM image write failed (%d %d)\n", static_cast<int>(m_output.Written()),
                     static_cast<int>(m_offset));
        if (m_output.Failed())
            std::fprintf(stderr, "write: %s\n", std::strerror(m_output.Error()));
        return kRomExitFatal;
    }
    return kRomExitOk;
}

int RomImageWriter::ReadInput(const char* path, RomEntry& entry) {
    // Non-blocking open, so a FIFO given by mistake cannot hang the caller; it is refused below.
    Fd fd(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        std::fprintf(stderr, "fopen %s fail\n", path);
        return kRomExitFailure;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        std::perror("stat");
        return kRomExitStatFailed;
    }
    // The image has one directory level: only plain files can go into it.
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        std::perror("read");
        return kRomExitFailure;
    }
    if (entry.name.empty()) {
        std::fprintf(stderr, "%s: no file name\n", path);
        return kRomExitFailure;
    }
    m_inputIds.emplace_back(st.st_dev, st.st_ino);
    entry.mode = static_cast<std::uint16_t>(st.st_mode & 0xFFFF);
    entry.uid = 0;
    entry.gid = 0;
    std::uint32_t padded = static_cast<std::uint32_t>(RoundUp(entry.name.size(), 4));
    m_estimate += kRomInodeSize + padded;
    m_dirSize += static_cast<std::uint32_t>(kRomInodeSize + padded);

    std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    if (size > kRomMaxFileSize) {
        size = kRomMaxFileSize;
        m_sizeWarning = true;
    }
    entry.size = static_cast<std::uint32_t>(size);
    if (entry.size != 0) {
        std::uint8_t* buffer = m_inputs.Allocate(entry.size);
        if (!buffer) {
            std::fprintf(stderr, "malloc %d bytes fail\n", static_cast<int>(entry.size));
            return kRomExitFailure;
        }
        if (!ReadExactly(fd.get(), buffer, entry.size)) {
            std::perror("read");
            return kRomExitFailure;
        }
        entry.data = buffer;
        // 30 bytes per block beyond the first for its pointer and compression overhead, 33 for
        // the first block and the alignment.
        m_estimate += entry.size + 30ull * ((entry.size - 1) / kRomBlockSize) + 33;
    }
    return kRomExitOk;
}

bool RomImageWriter::Fits(std::uint64_t end) {
    // The estimate is an upper bound only until the cap cuts it; never write past the block.
    if (end <= m_estimate)
        return true;
    std::fprintf(stderr, "not enough space allocated for ROM image (%d allocated, %d used)\n",
                 static_cast<int>(m_estimate), static_cast<int>(std::min<std::uint64_t>(end, 0x7FFFFFFF)));
    return false;
}

int RomImageWriter::WriteDirectory() {
    std::uint8_t* img = m_header.data();
    m_offset = kRomSuperSize;
    for (RomEntry& e : m_root.children) {
        e.inodeOffset = m_offset;
        PutInode(img + m_offset, e.mode, e.uid, e.size, e.gid, 0, 0);
        m_offset += kRomInodeSize;
        ++m_files;
        std::memcpy(img + m_offset, e.name.data(), e.name.size());
        std::size_t padded = RoundUp(e.name.size(), 4);
        m_offset += padded;
        PutInode(img + e.inodeOffset, e.mode, e.uid, e.size, e.gid, static_cast<std::uint32_t>(padded / 4),
                 0);
        std::printf("  %s\n", e.name.c_str());
    }
    std::printf("Directory data: %d bytes\n", static_cast<int>(m_offset));
    m_dirEnd = m_offset;
    return kRomExitOk;
}

void RomImageWriter::FlushRun() {
    if (!m_run.empty())
        m_output.Write(m_runOffset, m_run.data(), static_cast<int>(m_run.size()));
    m_run.clear();
}

void RomImageWriter::AppendToRun(const void* data, std::size_t len) {
    if (m_run.empty())
        m_runOffset = m_offset;
    m_run.push_back({const_cast<void*>(data), len});
}

int RomImageWriter::WriteData() {
    for (RomEntry& e : m_root.children) {
        if (e.size == 0)
            continue;
        if (m_offset > kRomMaxDataOffset) {
            std::fprintf(stderr, "filesystem too big.  Exiting.\n");
            return kRomExitFatal;
        }
        FlushRun();
        if (int status = WriteFileData(e); status != kRomExitOk)
            return status;

        std::int32_t change = static_cast<std::int32_t>(static_cast<std::int64_t>(m_offset - e.dataOffset) -
                                                        static_cast<std::int64_t>(e.size));
        std::int32_t change100 = static_cast<std::int32_t>(static_cast<std::int64_t>(change) * 100);
        std::printf("%6.2f%% (%+d bytes)\t%s\n", change100 / static_cast<double>(e.size), change,
                    e.name.c_str());
    }
    FlushRun();
    return kRomExitOk;
}

int RomImageWriter::WriteFileData(RomEntry& e) {
    e.dataOffset = m_offset;
    PutInode(m_header.data() + e.inodeOffset, e.mode, e.uid, e.size, e.gid,
             static_cast<std::uint32_t>(RoundUp(e.name.size(), 4) / 4),
             static_cast<std::uint32_t>(m_offset / 4));

    std::uint32_t count = (e.size - 1) / kRomBlockSize + 1;
    if (!Fits(m_offset + 4ull * count))
        return kRomExitFatal;
    m_table.assign(4ull * count, 0);
    m_offset += 4ull * count;
    uLong bodyCrc = crc32(0L, Z_NULL, 0);
    if (int status = WriteBlocks(count, bodyCrc); status != kRomExitOk)
        return status;
    std::size_t aligned = RoundUp(m_offset, 4);
    if (!Fits(aligned))
        return kRomExitFatal;
    AppendToRun(kZeros, aligned - m_offset);
    bodyCrc = crc32(bodyCrc, kZeros, static_cast<uInt>(aligned - m_offset));
    m_offset = aligned;
    m_output.Write(e.dataOffset, m_table.data(), m_table.size());
    uLong fileCrc =
        crc32_combine(crc32(crc32(0L, Z_NULL, 0), m_table.data(), static_cast<uInt>(m_table.size())), bodyCrc,
                      static_cast<z_off_t>(m_offset - e.dataOffset - m_table.size()));
    m_dataCrc = crc32_combine(m_dataCrc, fileCrc, static_cast<z_off_t>(m_offset - e.dataOffset));
    m_blocks += count;
    return kRomExitOk;
}

int RomImageWriter::WriteBlocks(std::uint32_t count, uLong& bodyCrc) {
    for (std::uint32_t i = 0; i < count; ++i, ++m_nextBlock) {
        if (m_nextBlock / BlockCompressor::kBatch != m_runBatch) {
            FlushRun();
            m_runBatch = m_nextBlock / BlockCompressor::kBatch;
        }
        const std::uint8_t* data = nullptr;
        std::size_t len = 0;
        if (!m_compressor->Get(m_nextBlock, data, len)) {
            std::fprintf(stderr, "zlib compress failed\n");
            return kRomExitFatal;
        }
        if (len > kRomMaxCompressedBlock) {
            std::printf("AIEEE: block \"compressed\" to > 2*blocklength (%ld)\n", static_cast<long>(len));
            return kRomExitFatal;
        }
        if (!Fits(m_offset + len))
            return kRomExitFatal;
        AppendToRun(data, len);
        bodyCrc = crc32(bodyCrc, data, static_cast<uInt>(len));
        m_offset += len;
        Put32(m_table.data() + 4ull * i, static_cast<std::uint32_t>(m_offset));
    }
    return kRomExitOk;
}

} // namespace

std::string_view BaseNameOf(std::string_view path) {
    std::size_t cut = path.rfind('/');
    if (cut == std::string_view::npos)
        cut = path.rfind('\\');
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

int WriteRomImage(int argc, const char* const argv[]) {
    return WriteRomImage(argc, argv, RomImageOptions{});
}

int WriteRomImage(int argc, const char* const argv[], const RomImageOptions& options) {
    int status;
    try {
        RomImageWriter writer(argc, argv, options);
        status = writer.Run();
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        std::perror(nullptr);
        status = kRomExitFatal;
    }
    // A windowed caller has no process exit to flush the report for it.
    std::fflush(stdout);
    std::fflush(stderr);
    return status;
}

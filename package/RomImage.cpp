#include "RomImage.h"

#include "BlockCompressor.h"

#include <zlib.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
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

// Zero-filled memory for file contents and the image. Large blocks come straight from mmap with
// transparent huge pages asked for: filling tens of megabytes one 4 KiB page fault at a time
// costs, in a virtual machine, a good share of what compressing them does.
class ZeroedBuffer {
public:
    ZeroedBuffer() = default;
    ~ZeroedBuffer() { Release(); }
    ZeroedBuffer(ZeroedBuffer&& o) noexcept
        : m_data(std::exchange(o.m_data, nullptr)), m_map(std::exchange(o.m_map, nullptr)),
          m_mapLength(std::exchange(o.m_mapLength, 0)) {}
    ZeroedBuffer& operator=(ZeroedBuffer&& o) noexcept {
        if (this != &o) {
            Release();
            m_data = std::exchange(o.m_data, nullptr);
            m_map = std::exchange(o.m_map, nullptr);
            m_mapLength = std::exchange(o.m_mapLength, 0);
        }
        return *this;
    }

    bool Allocate(std::size_t n) {
        Release();
        if (n < kHugePage / 2) {
            m_data = static_cast<std::uint8_t*>(std::calloc(n ? n : 1, 1));
            return m_data != nullptr;
        }
        std::size_t huge = (n + kHugePage - 1) & ~(kHugePage - 1);
        m_mapLength = huge + kHugePage;
        void* map = ::mmap(nullptr, m_mapLength, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED) {
            m_mapLength = 0;
            errno = ENOMEM;
            return false;
        }
        m_map = map;
        auto aligned = (reinterpret_cast<std::uintptr_t>(map) + kHugePage - 1) & ~(kHugePage - 1);
        m_data = reinterpret_cast<std::uint8_t*>(aligned);
        ::madvise(m_data, huge, MADV_HUGEPAGE); // only a hint
        return true;
    }

    void Release() {
        if (m_map)
            ::munmap(m_map, m_mapLength);
        else
            std::free(m_data);
        m_data = nullptr;
        m_map = nullptr;
        m_mapLength = 0;
    }

    std::uint8_t* get() const { return m_data; }
    explicit operator bool() const { return m_data != nullptr; }

private:
    static constexpr std::size_t kHugePage = 2u << 20;
    std::uint8_t* m_data = nullptr;
    void* m_map = nullptr;
    std::size_t m_mapLength = 0;
};

struct RomEntry {
    std::string name;
    std::uint16_t mode = 0;
    std::uint32_t size = 0;
    std::uint16_t uid = 0;
    std::uint8_t gid = 0;
    ZeroedBuffer data; // the whole content, released once written
    std::size_t inodeOffset = 0;
    std::size_t dataOffset = 0;
    std::vector<RomEntry> children; // only the root has any: the sorted file entries
};

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f)
            std::fclose(f);
    }
};

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(Fd&& o) noexcept : m_fd(std::exchange(o.m_fd, -1)) {}
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) {
            if (m_fd >= 0)
                ::close(m_fd);
            m_fd = std::exchange(o.m_fd, -1);
        }
        return *this;
    }
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

class RomImageWriter {
public:
    RomImageWriter(int argc, const char* const argv[], const RomImageOptions& options)
        : m_argc(argc), m_argv(argv), m_options(options) {}

    int Run();

private:
    int ReadInput(const char* path, RomEntry& entry);
    int WriteDirectory();
    int WriteData();
    bool Fits(std::uint64_t end);

    int m_argc;
    const char* const* m_argv;
    RomImageOptions m_options;

    std::unique_ptr<std::FILE, FileCloser> m_out;
    RomEntry m_root;
    std::uint64_t m_estimate = kRomSuperSize;
    std::uint32_t m_dirSize = 0; // D
    std::uint32_t m_blocks = 0;
    std::uint32_t m_files = 1; // the root
    bool m_nameWarning = false;
    bool m_sizeWarning = false;
    // After m_root: it compresses the entries' data, so it must stop before that is freed.
    std::unique_ptr<BlockCompressor> m_compressor;
    ZeroedBuffer m_image;
    std::size_t m_offset = 0;
    std::size_t m_dirEnd = 0;  // 76 + D: where the file data begins
    std::size_t m_crcFrom = 0; // the data before this offset is in m_dataCrc
    uLong m_dataCrc = crc32(0L, Z_NULL, 0);
};

int RomImageWriter::Run() {
    if (m_argc < 3) {
        std::fprintf(stderr, "usage: %s  outfile infile1 infile2 ...\n", m_argc > 0 ? m_argv[0] : "mkcramfs");
        return kRomExitOk;
    }
    m_out.reset(std::fopen(m_argv[1], "wb"));
    if (!m_out) {
        std::perror("fopen");
        return kRomExitFailure;
    }
    m_root.mode = kRomRootMode;

    // Entries sorted by base name, bytewise as unsigned values; a stable sort keeps equal names
    // in input order.
    try {
        m_root.children.resize(static_cast<std::size_t>(m_argc - 2));
        for (int i = 2; i < m_argc; ++i)
            m_root.children[static_cast<std::size_t>(i - 2)].name = BaseNameOf(m_argv[i]);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        std::perror(nullptr);
        return kRomExitFatal;
    }
    std::vector<const char*> paths(m_argv + 2, m_argv + m_argc);
    std::vector<std::size_t> order(paths.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return m_root.children[a].name < m_root.children[b].name;
    });
    std::vector<RomEntry> sorted(order.size());
    std::vector<const char*> sortedPaths(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        sorted[i] = std::move(m_root.children[order[i]]);
        sortedPaths[i] = paths[order[i]];
    }
    m_root.children = std::move(sorted);

    // The workers start on the first inputs while the later ones are still being read; nothing
    // is printed until all are in, so a failing input is reported just as if none had begun.
    m_compressor = std::make_unique<BlockCompressor>(m_options.nThreads);
    for (std::size_t i = 0; i < m_root.children.size(); ++i) {
        RomEntry& e = m_root.children[i];
        if (int status = ReadInput(sortedPaths[i], e); status != kRomExitOk)
            return status;
        m_compressor->AddFile(e.data.get(), e.size);
    }
    m_compressor->Finish();
    if (m_dirSize > kRomMaxFileSize) {
        // The root inode's 24-bit size field could not describe the directory.
        std::fprintf(stderr, "filesystem too big.  Exiting.\n");
        return kRomExitFatal;
    }

    m_estimate = RoundUp(m_estimate, kRomBlockSize);
    if (m_estimate > kRomEstimateCap) {
        std::fprintf(stderr,
                     "warning: guestimate of required size (upper bound) is %dMB, but maximum image size is "
                     "%uMB.  We might die prematurely.\n",
                     static_cast<int>(m_estimate / 1048576), 272u);
        m_estimate = kRomEstimateCap;
    }
    if (!m_image.Allocate(m_estimate)) {
        std::fprintf(stderr, "malloc %d bytes fail\n", static_cast<int>(m_estimate));
        return kRomExitFailure;
    }

    if (int status = WriteDirectory(); status != kRomExitOk)
        return status;
    if (int status = WriteData(); status != kRomExitOk)
        return status;

    m_offset = RoundUp(m_offset, kRomBlockSize);
    if (!Fits(m_offset))
        return kRomExitFatal;
    std::printf("Everything: %d kilobytes\n", static_cast<int>(m_offset / 1024));

    std::uint8_t* img = m_image.get();
    Put32(img + kRomOffMagic, kRomMagic);
    Put32(img + kRomOffSize, static_cast<std::uint32_t>(m_offset));
    Put32(img + kRomOffFlags, kRomFlags);
    std::memcpy(img + kRomOffSignature, kSignature, sizeof kSignature);
    Put32(img + kRomOffCrc, 0);
    Put32(img + kRomOffEdition, 0);
    Put32(img + kRomOffBlocks, m_blocks);
    Put32(img + kRomOffFiles, m_files);
    std::memset(img + kRomOffName, 0, 16);
    std::memcpy(img + kRomOffName, kVolumeName, sizeof kVolumeName - 1);
    PutInode(img + kRomOffRootInode, kRomRootMode, 0, m_dirSize, 0, 0, kRomSuperSize / 4);
    std::printf("Super block: %d bytes\n", static_cast<int>(kRomSuperSize));

    // The file data's share of the checksum was taken as each file was placed, while the other
    // threads compressed; what remains is the padding and the superblock with the directory.
    m_dataCrc = crc32(m_dataCrc, img + m_crcFrom, static_cast<uInt>(m_offset - m_crcFrom));
    uLong headCrc = crc32(crc32(0L, Z_NULL, 0), img, static_cast<uInt>(m_dirEnd));
    std::uint32_t crc = static_cast<std::uint32_t>(
        crc32_combine(headCrc, m_dataCrc, static_cast<z_off_t>(m_offset - m_dirEnd)));
    Put32(img + kRomOffCrc, crc);
    std::printf("CRC: %x\n", crc);

    if (m_estimate < m_offset) {
        std::fprintf(stderr, "not enough space allocated for ROM image (%d allocated, %d used)\n",
                     static_cast<int>(m_estimate), static_cast<int>(m_offset));
        return kRomExitFatal;
    }

    // Unbuffered, so the count fwrite returns is what reached the file and no failure can hide
    // in a flush at close.
    std::setvbuf(m_out.get(), nullptr, _IONBF, 0);
    std::size_t written = std::fwrite(img, 1, m_offset, m_out.get());
    if (written != m_offset) {
        std::fprintf(stderr, "ROM image write failed (%d %d)\n", static_cast<int>(written),
                     static_cast<int>(m_offset));
        return kRomExitFatal;
    }

    if (m_nameWarning)
        std::fprintf(stderr, "warning: filenames truncated to 255 bytes.\n");
    if (m_sizeWarning)
        std::fprintf(stderr, "warning: file sizes truncated to %luMB (minus 1 byte).\n", 16ul);

    if (std::fclose(m_out.release()) != 0) {
        std::perror("fclose");
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
    if (entry.name.size() > kRomMaxNameStored) {
        entry.name.resize(kRomMaxNameStored);
        m_nameWarning = true;
    }
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
        if (!entry.data.Allocate(entry.size)) {
            std::fprintf(stderr, "malloc %d bytes fail\n", static_cast<int>(entry.size));
            return kRomExitFailure;
        }
        if (!ReadExactly(fd.get(), entry.data.get(), entry.size)) {
            std::perror("read");
            return kRomExitFailure;
        }
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
    std::uint8_t* img = m_image.get();
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
    m_dirEnd = m_crcFrom = m_offset;
    return kRomExitOk;
}

int RomImageWriter::WriteData() {
    std::uint8_t* img = m_image.get();
    std::size_t next = 0;
    for (RomEntry& e : m_root.children) {
        if (e.size == 0)
            continue;
        if (m_offset > kRomMaxDataOffset) {
            std::fprintf(stderr, "filesystem too big.  Exiting.\n");
            return kRomExitFatal;
        }
        e.dataOffset = m_offset;
        PutInode(img + e.inodeOffset, e.mode, e.uid, e.size, e.gid,
                 static_cast<std::uint32_t>(RoundUp(e.name.size(), 4) / 4),
                 static_cast<std::uint32_t>(m_offset / 4));

        std::uint32_t count = (e.size - 1) / kRomBlockSize + 1;
        std::size_t table = m_offset;
        if (!Fits(m_offset + 4ull * count))
            return kRomExitFatal;
        m_offset += 4ull * count;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t* data = nullptr;
            std::size_t len = 0;
            if (!m_compressor->Get(next++, data, len)) {
                std::fprintf(stderr, "zlib compress failed\n");
                return kRomExitFatal;
            }
            if (len > kRomMaxCompressedBlock) {
                std::printf("AIEEE: block \"compressed\" to > 2*blocklength (%ld)\n", static_cast<long>(len));
                return kRomExitFatal;
            }
            if (!Fits(m_offset + len))
                return kRomExitFatal;
            std::memcpy(img + m_offset, data, len);
            m_offset += len;
            Put32(img + table + 4ull * i, static_cast<std::uint32_t>(m_offset));
        }
        std::size_t aligned = RoundUp(m_offset, 4);
        if (!Fits(aligned))
            return kRomExitFatal;
        m_offset = aligned;
        m_blocks += count;
        m_dataCrc = crc32(m_dataCrc, img + m_crcFrom, static_cast<uInt>(m_offset - m_crcFrom));
        m_crcFrom = m_offset;

        std::int32_t change = static_cast<std::int32_t>(static_cast<std::int64_t>(m_offset - e.dataOffset) -
                                                        static_cast<std::int64_t>(e.size));
        std::int32_t change100 = static_cast<std::int32_t>(static_cast<std::int64_t>(change) * 100);
        std::printf("%6.2f%% (%+d bytes)\t%s\n", change100 / static_cast<double>(e.size), change,
                    e.name.c_str());
        e.data.Release();
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

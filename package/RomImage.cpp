#include "RomImage.h"

#include "BlockCompressor.h"

#include <zlib.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <thread>
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

// A failure met while opening an input, kept until the inputs before it have been read, so
// that the first failure in list order is the one reported, as when reading one by one.
struct InputFailure {
    enum Kind { kNone, kOpen, kStat, kRead, kNoName, kMalloc } kind = kNone;
    const char* path = nullptr;
    int savedErrno = 0;
    std::size_t size = 0;

    int Report() const {
        errno = savedErrno;
        switch (kind) {
        case kNone:
            return kRomExitOk;
        case kOpen:
            std::fprintf(stderr, "fopen %s fail\n", path);
            return kRomExitFailure;
        case kStat:
            std::perror("stat");
            return kRomExitStatFailed;
        case kRead:
            std::perror("read");
            return kRomExitFailure;
        case kNoName:
            std::fprintf(stderr, "%s: no file name\n", path);
            return kRomExitFailure;
        case kMalloc:
            std::fprintf(stderr, "malloc %d bytes fail\n", static_cast<int>(size));
            return kRomExitFailure;
        }
        return kRomExitFailure;
    }
};

struct ReadJob {
    int fd;
    std::uint8_t* data;
    std::size_t size;
    int savedErrno = 0; // 0 when the whole content was read
};

// Reads the jobs, on several threads when there is enough data to share: copying tens of
// megabytes out of the page cache into fresh memory is otherwise the longest stretch the
// compressing threads would wait for.
void ReadAll(std::vector<ReadJob>& jobs, unsigned nThreads) {
    std::size_t total = 0;
    for (const ReadJob& j : jobs)
        total += j.size;
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < jobs.size();) {
            if (!ReadExactly(jobs[i].fd, jobs[i].data, jobs[i].size))
                jobs[i].savedErrno = errno ? errno : EIO;
        }
    };
    std::vector<std::thread> helpers;
    if (total >= (1u << 20)) {
        try {
            for (unsigned t = 1; t < nThreads && t < jobs.size(); ++t)
                helpers.emplace_back(work);
        } catch (const std::system_error&) {
            // Fewer helpers: this thread reads what they do not.
        }
    }
    work();
    for (std::thread& t : helpers)
        t.join();
}

class RomImageWriter {
public:
    RomImageWriter(int argc, const char* const argv[], const RomImageOptions& options)
        : m_argc(argc), m_argv(argv), m_options(options) {}

    int Run();

private:
    int ReadInputs(const std::vector<const char*>& paths);
    InputFailure PrepareInput(const char* path, RomEntry& entry, Fd& fd);
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

    if (int status = ReadInputs(sortedPaths); status != kRomExitOk)
        return status;
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

int RomImageWriter::ReadInputs(const std::vector<const char*>& paths) {
    unsigned nThreads =
        m_options.nThreads ? m_options.nThreads : std::max(1u, std::thread::hardware_concurrency());
    // A few dozen inputs at a time: enough to share the reading, few enough descriptors open.
    constexpr std::size_t kChunk = 64;
    for (std::size_t start = 0; start < paths.size(); start += kChunk) {
        std::size_t end = std::min(paths.size(), start + kChunk);
        std::vector<Fd> fds;
        fds.reserve(end - start);
        std::vector<ReadJob> jobs;
        std::vector<std::size_t> jobEntry;
        InputFailure failure;
        for (std::size_t i = start; i < end && failure.kind == InputFailure::kNone; ++i) {
            fds.emplace_back(-1);
            failure = PrepareInput(paths[i], m_root.children[i], fds.back());
            RomEntry& e = m_root.children[i];
            if (failure.kind == InputFailure::kNone && e.size != 0) {
                jobs.push_back({fds.back().get(), e.data.get(), e.size});
                jobEntry.push_back(i);
            }
        }
        ReadAll(jobs, nThreads);
        for (std::size_t j = 0; j < jobs.size(); ++j) {
            if (jobs[j].savedErrno != 0) {
                InputFailure read;
                read.kind = InputFailure::kRead;
                read.savedErrno = jobs[j].savedErrno;
                return read.Report();
            }
            // 30 bytes per block beyond the first for its pointer and compression overhead, 33
            // for the first block and the alignment.
            std::uint32_t size = m_root.children[jobEntry[j]].size;
            m_estimate += size + 30ull * ((size - 1) / kRomBlockSize) + 33;
        }
        if (failure.kind != InputFailure::kNone)
            return failure.Report();
    }
    return kRomExitOk;
}

InputFailure RomImageWriter::PrepareInput(const char* path, RomEntry& entry, Fd& fd) {
    InputFailure failure;
    failure.path = path;
    // Non-blocking open, so a FIFO given by mistake cannot hang the caller; it is refused below.
    fd = Fd(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        failure.kind = InputFailure::kOpen;
        return failure;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        failure.kind = InputFailure::kStat;
        failure.savedErrno = errno;
        return failure;
    }
    // The image has one directory level: only plain files can go into it.
    if (!S_ISREG(st.st_mode)) {
        failure.kind = InputFailure::kRead;
        failure.savedErrno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return failure;
    }
    if (entry.name.empty()) {
        failure.kind = InputFailure::kNoName;
        return failure;
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
    if (entry.size != 0 && !entry.data.Allocate(entry.size)) {
        failure.kind = InputFailure::kMalloc;
        failure.size = entry.size;
    }
    return failure;
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
    std::vector<BlockRef> blocks;
    for (const RomEntry& e : m_root.children) {
        for (std::uint32_t pos = 0; pos < e.size; pos += kRomBlockSize)
            blocks.push_back({e.data.get() + pos, std::min<std::uint32_t>(kRomBlockSize, e.size - pos)});
    }
    BlockCompressor compressor(blocks, m_options.nThreads);

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
            if (!compressor.Get(next++, data, len)) {
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

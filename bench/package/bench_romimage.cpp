// Image writer throughput and memory against zlib's compress() over the same 4096-byte blocks.
//
// 64 MB of web content (text pages, and incompressible bytes standing in for JPEG images) is
// written as files; the baseline is compress() called on every block of them on one thread,
// measured in the same run. The image is written by WriteRomImage, reading the files and writing
// the image file included, on one thread and on every core; both images must be identical.
// Peak memory is the maximum resident size of a child process that writes the image.
#include "package/BlockCompressor.h"
#include "package/RomImage.h"

#include <zlib.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kTotal = 64u << 20;
constexpr int kRounds = 5;

std::uint32_t Next(std::uint32_t& s) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
}

Bytes Random(std::size_t n, std::uint32_t seed) {
    Bytes b(n);
    for (auto& c : b)
        c = static_cast<std::uint8_t>(Next(seed) >> 24);
    return b;
}

Bytes SampleText(std::size_t n, std::uint32_t seed) {
    static const char* const words[] = {"<div class=\"channel\">",
                                        "</div>\n",
                                        "<td align=\"left\">",
                                        "</td>",
                                        "<tr>",
                                        "</tr>\n",
                                        "record",
                                        "motion detect",
                                        "alarm input ",
                                        "function ",
                                        "var ",
                                        " = ",
                                        ";\n",
                                        "if (",
                                        ") {\n",
                                        "}\n",
                                        "document.getElementById(\"",
                                        "\").value",
                                        "<a href=\"",
                                        "\">",
                                        "</a>\n",
                                        "color: #",
                                        "px; ",
                                        "margin: 0 auto; ",
                                        "<img src=\"",
                                        ".jpg\" />"};
    Bytes b;
    b.reserve(n);
    while (b.size() < n) {
        const char* w = words[Next(seed) % std::size(words)];
        for (; *w && b.size() < n; ++w)
            b.push_back(static_cast<std::uint8_t>(*w));
        if (Next(seed) % 5 == 0 && b.size() < n)
            b.push_back(static_cast<std::uint8_t>('0' + Next(seed) % 10));
    }
    return b;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

template <class F> double Time(F&& f) {
    auto t0 = Clock::now();
    f();
    return Seconds(Clock::now() - t0);
}

int WriteImage(const std::string& out, const std::vector<std::string>& inputs, unsigned threads) {
    std::vector<const char*> argv{"mkcramfs", out.c_str()};
    for (const auto& i : inputs)
        argv.push_back(i.c_str());
    argv.push_back(nullptr);
    RomImageOptions options;
    options.nThreads = threads;
    return WriteRomImage(static_cast<int>(argv.size() - 1), argv.data(), options);
}

// The writer's progress report would swamp the figures.
class QuietStdout {
public:
    QuietStdout() {
        std::fflush(stdout);
        m_saved = ::dup(1);
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::close(null);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        ::dup2(m_saved, 1);
        ::close(m_saved);
    }

private:
    int m_saved;
};

// Runs this program again as "--write THREADS OUT INPUTS..." and returns the child's peak
// resident size in MB.
double PeakMemoryMB(const std::string& out, const std::vector<std::string>& inputs, unsigned threads) {
    std::vector<std::string> args{"/proc/self/exe", "--write", std::to_string(threads), out};
    args.insert(args.end(), inputs.begin(), inputs.end());
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::execv("/proc/self/exe", argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage ru {};
    ::wait4(pid, &status, 0, &ru);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "child writer failed\n");
        std::exit(1);
    }
    return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

Bytes ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc >= 4 && std::strcmp(argv[1], "--write") == 0) {
        QuietStdout quiet;
        std::vector<std::string> inputs(argv + 4, argv + argc);
        return WriteImage(argv[3], inputs, static_cast<unsigned>(std::atoi(argv[2])));
    }

    const char* env = std::getenv("TMPDIR");
    std::string root = std::string(env && *env ? env : "/tmp") + "/bench_romimage.XXXXXX";
    if (!::mkdtemp(root.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    std::filesystem::path dir(root);

    // Files of 3 KB to 3 MB, about half the bytes text and half incompressible.
    std::vector<std::string> inputs;
    std::vector<Bytes> contents;
    std::size_t total = 0, textBytes = 0;
    std::uint32_t seed = 12345;
    for (int i = 0; total < kTotal; ++i) {
        std::size_t size = 3000 + Next(seed) % (3u << 20);
        size = std::min(size, kTotal - total);
        bool text = i % 2 == 0;
        Bytes c = text ? SampleText(size, seed + static_cast<std::uint32_t>(i))
                       : Random(size, seed + static_cast<std::uint32_t>(i));
        std::string path = (dir / ("file" + std::to_string(i) + (text ? ".htm" : ".jpg"))).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(c.data()), static_cast<std::streamsize>(c.size()));
        inputs.push_back(path);
        contents.push_back(std::move(c));
        total += size;
        textBytes += text ? size : 0;
    }
    std::vector<BlockRef> blocks;
    for (const auto& c : contents)
        for (std::size_t pos = 0; pos < c.size(); pos += kRomBlockSize)
            blocks.push_back(
                {c.data() + pos, static_cast<std::uint32_t>(std::min(kRomBlockSize, c.size() - pos))});

    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::printf("input: %zu files, %.1f MB (%.0f%% text), %zu blocks; %u cores\n", inputs.size(),
                total / 1048576.0, 100.0 * textBytes / total, blocks.size(), cores);

    // Baseline: compress() on every block, one thread.
    std::size_t compressed = 0;
    Bytes out(compressBound(kRomBlockSize));
    auto baseline = [&] {
        compressed = 0;
        for (const auto& b : blocks) {
            uLongf len = out.size();
            compress(out.data(), &len, b.src, b.len);
            compressed += len;
        }
    };

    // The same blocks on every core, compress() against a reused stream per thread.
    auto parallel = [&](bool reuse) {
        std::vector<std::thread> ts;
        for (unsigned t = 0; t < cores; ++t)
            ts.emplace_back([&, t] {
                Bytes buf(compressBound(kRomBlockSize));
                BlockDeflater d;
                for (std::size_t i = t; i < blocks.size(); i += cores) {
                    if (reuse) {
                        d.Compress(blocks[i], buf.data(), buf.size());
                    } else {
                        uLongf len = buf.size();
                        compress(buf.data(), &len, blocks[i].src, blocks[i].len);
                    }
                }
            });
        for (auto& t : ts)
            t.join();
    };

    std::string one = (dir / "one.cramfs").string(), all = (dir / "all.cramfs").string();
    int status = 0;
    // Rounds interleave the variants, so a change in the machine's load weighs on all of them
    // alike; each variant's best round counts.
    double tCompress = 1e99, tCompressAll = 1e99, tReusedAll = 1e99, tImageOne = 1e99, tImageAll = 1e99;
    for (int round = 0; round < kRounds; ++round) {
        tCompress = std::min(tCompress, Time(baseline));
        tCompressAll = std::min(tCompressAll, Time([&] { parallel(false); }));
        tReusedAll = std::min(tReusedAll, Time([&] { parallel(true); }));
        QuietStdout quiet;
        tImageOne = std::min(tImageOne, Time([&] { status |= WriteImage(one, inputs, 1); }));
        tImageAll = std::min(tImageAll, Time([&] { status |= WriteImage(all, inputs, 0); }));
    }
    bool same = status == 0 && ReadAll(one) == ReadAll(all);
    double peakOne = PeakMemoryMB(one, inputs, 1);
    double peakAll = PeakMemoryMB(all, inputs, 0);
    std::size_t imageSize = std::filesystem::file_size(all);
    std::filesystem::remove_all(dir);

    std::printf("compressed blocks: %.1f MB; image %.1f MB\n", compressed / 1048576.0, imageSize / 1048576.0);
    std::printf("compress(), 1 thread (baseline)      %7.3f s  %6.1f MB/s  ratio 1.00\n", tCompress,
                total / 1048576.0 / tCompress);
    std::printf("compress(), %u threads                %7.3f s  %6.1f MB/s  ratio %.2f\n", cores,
                tCompressAll, total / 1048576.0 / tCompressAll, tCompressAll / tCompress);
    std::printf("reused deflate streams, %u threads    %7.3f s  %6.1f MB/s  ratio %.2f\n", cores, tReusedAll,
                total / 1048576.0 / tReusedAll, tReusedAll / tCompress);
    std::printf("WriteRomImage, 1 thread              %7.3f s  %6.1f MB/s  ratio %.2f\n", tImageOne,
                total / 1048576.0 / tImageOne, tImageOne / tCompress);
    std::printf("WriteRomImage, %u threads             %7.3f s  %6.1f MB/s  ratio %.2f  (target <= 0.60)\n",
                cores, tImageAll, total / 1048576.0 / tImageAll, tImageAll / tCompress);
    std::printf("images identical: %s\n", same ? "yes" : "NO");
    std::printf("peak memory: %.0f MB on 1 thread, %.0f MB on %u threads (%.2f and %.2f x the input)\n",
                peakOne, peakAll, cores, peakOne * 1048576.0 / total, peakAll * 1048576.0 / total);
    return same ? 0 : 1;
}

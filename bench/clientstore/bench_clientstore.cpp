// Loads a client data file of 10,000 recorders with 16 channels each through the store, registers
// one more recorder with 16 channels and saves; then does the same load and save with the bare XML
// engine on the same file. Each run happens in a child process of its own, so each peak memory
// figure is that run's alone. Prints times, peak memory and the store's ratios to the engine.
//
// Usage: bench_clientstore [DEVICES] [FOLDER]   (defaults: 10000, a new folder under /tmp)

#include "clientstore/ClientDataFile.h"
#include "clientstore/ClientStore.h"
#include "clientstore/password/Password.h"
#include "tests/common/ClientDataGenerator.h"
#include "xml/XmlFile.h"
#include "xml/XmlParser.h"
#include "xml/XmlWriter.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kChannels = 16;
constexpr int kRounds = 3;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double peakMiB() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// The shared generator's file, with each stand-in password replaced by a real enciphered one so
// that the store's load pays for deciphering as it does on a real file.
std::size_t writeDataFile(const std::filesystem::path& path, int devices) {
    const std::string generated = clientdata::makeClientDataFile(devices, kChannels);
    std::string text;
    text.reserve(generated.size() + static_cast<std::size_t>(devices) * 100);
    const std::string key = "password=\"";
    std::size_t from = 0;
    int d = 0;
    for (std::size_t at = generated.find(key); at != std::string::npos; at = generated.find(key, from)) {
        const std::size_t value = at + key.size();
        const std::size_t end = generated.find('"', value);
        text.append(generated, from, value - from);
        char cipher[256] = {};
        const std::string password = "pw" + std::to_string(d++ * 7919);
        EncryptStringEX(password.c_str(), cipher, 1);
        text += cipher;
        from = end;
    }
    text.append(generated, from, std::string::npos);
    std::ofstream out(path, std::ios::binary);
    out << text;
    return text.size();
}

struct Result {
    double loadMs = 0;
    double addMs = 0;
    double saveMs = 0;
    double peakMiB = 0;
    std::size_t devices = 0;
    bool ok = false;
};

// The discovery window's sequence: load the store, register one recorder, set its camera types,
// save once.
Result runStore(const std::filesystem::path& path) {
    Result r;
    ClientDataFile::setPath(path);
    auto start = Clock::now();
    ClientStore* store = ClientStore::instance();
    store->load();
    r.loadMs = msSince(start);

    DeviceRecord record{};
    copyToField(record.name, "Benchmark1");
    copyToField(record.host, "192.168.200.1");
    copyToField(record.username, "admin");
    copyToField(record.password, "bench pass");
    record.channelCount = kChannels;
    record.port = 37777;
    const std::int32_t codes[16] = {1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0};
    start = Clock::now();
    const std::uint32_t id = store->addDevice(record);
    const bool typed = id != 0 && ClientDataFile::instance()->setCameraTypes(id, codes, kChannels) == 1;
    r.addMs = msSince(start);

    start = Clock::now();
    const bool saved = ClientDataFile::instance()->save();
    r.saveMs = msSince(start);
    r.devices = store->devices().size();
    r.peakMiB = peakMiB();
    r.ok = typed && saved;
    ClientStore::release();
    return r;
}

// The bare engine: read and parse the same file, write it back to a file.
Result runEngine(const std::filesystem::path& path, const std::filesystem::path& out) {
    Result r;
    auto start = Clock::now();
    XmlParser parser;
    const bool loaded = parser.loadFile(path.c_str());
    r.loadMs = msSince(start);
    start = Clock::now();
    const bool saved = saveDocument(out.c_str(), parser.root());
    r.saveMs = msSince(start);
    r.peakMiB = peakMiB();
    r.ok = loaded && saved;
    return r;
}

// Runs `work` in a child process and gives back its result.
template <typename Work> Result inChild(Work work) {
    int fds[2];
    if (pipe(fds) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const Result r = work();
        const bool sent = write(fds[1], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
        _exit(sent ? 0 : 1);
    }
    close(fds[1]);
    Result r;
    const bool got = read(fds[0], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!got) {
        r.ok = false;
    }
    return r;
}

} // namespace

int main(int argc, char** argv) {
    const int devices = argc > 1 ? std::atoi(argv[1]) : 10000;
    std::filesystem::path folder;
    if (argc > 2) {
        folder = argv[2];
        std::filesystem::create_directories(folder);
    } else {
        std::string tmpl = (std::filesystem::temp_directory_path() / "bench_clientstore-XXXXXX").string();
        if (mkdtemp(tmpl.data()) == nullptr) {
            std::perror("mkdtemp");
            return 1;
        }
        folder = tmpl;
    }
    const std::filesystem::path source = folder / "source.xml";
    const std::filesystem::path storeFile = folder / "Data.xml";
    const std::filesystem::path engineOut = folder / "engine-out.xml";

    const std::size_t bytes = writeDataFile(source, devices);
    const double fileMiB = static_cast<double>(bytes) / (1024.0 * 1024.0);
    std::printf("data file: %d devices x %d channels, %.1f MiB; best of %d rounds\n", devices, kChannels,
                fileMiB, kRounds);

    // The machine may be busy with other work, so each run is repeated, alternating, and the best
    // time of each kind counts. Each store run starts from a fresh copy, since it saves over it.
    Result engine;
    Result store;
    engine.loadMs = engine.saveMs = store.loadMs = store.addMs = store.saveMs = 1e300;
    engine.ok = store.ok = true;
    for (int round = 0; round < kRounds; ++round) {
        const Result e = inChild([&] { return runEngine(source, engineOut); });
        std::filesystem::copy_file(source, storeFile, std::filesystem::copy_options::overwrite_existing);
        const Result s = inChild([&] { return runStore(storeFile); });
        engine.loadMs = std::min(engine.loadMs, e.loadMs);
        engine.saveMs = std::min(engine.saveMs, e.saveMs);
        engine.peakMiB = std::max(engine.peakMiB, e.peakMiB);
        engine.ok = engine.ok && e.ok;
        store.loadMs = std::min(store.loadMs, s.loadMs);
        store.addMs = std::min(store.addMs, s.addMs);
        store.saveMs = std::min(store.saveMs, s.saveMs);
        store.peakMiB = std::max(store.peakMiB, s.peakMiB);
        store.devices = s.devices;
        store.ok = store.ok && s.ok;
    }

    std::printf("%-28s %10s %10s %10s %12s\n", "", "load ms", "add ms", "save ms", "peak MiB");
    std::printf("%-28s %10.1f %10s %10.1f %12.1f\n", "XML engine (baseline)", engine.loadMs, "-",
                engine.saveMs, engine.peakMiB);
    std::printf("%-28s %10.1f %10.2f %10.1f %12.1f\n", "ClientStore", store.loadMs, store.addMs, store.saveMs,
                store.peakMiB);
    std::printf("store / engine: load %.2fx, save %.2fx, peak memory %.2fx (peak %.2fx the file size)\n",
                store.loadMs / engine.loadMs, store.saveMs / engine.saveMs, store.peakMiB / engine.peakMiB,
                store.peakMiB / fileMiB);
    std::printf("store holds %zu devices after the registration\n", store.devices);

    std::error_code ec;
    if (argc <= 2) {
        std::filesystem::remove_all(folder, ec);
    }
    if (!engine.ok || !store.ok || store.devices != static_cast<std::size_t>(devices) + 1) {
        std::fprintf(stderr, "bench_clientstore: a run failed\n");
        return 1;
    }
    return 0;
}

#pragma once

// A small network for discovery tests, built from network namespaces (needs root and `ip`).
//
// The test program runs in a namespace of its own (tests/common/run-in-netns), which plays the
// technician's computer. The lab adds to it two veth links, each leading to a namespace that
// plays a network segment with recorders on it, plus interfaces a real computer has that must not
// get in the way. Nothing here can reach a real network: every address lives in these
// namespaces, and the segments' namespaces are deleted when the lab goes, even after a failed
// test; the program's own namespace ends with the program.

#include "tests/common/ChildProgram.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <dirent.h>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

class NetnsLab {
public:
    // One segment: a namespace linked to the computer by a veth pair.
    struct Segment {
        std::string ns;            // name under /run/netns
        std::string hostInterface; // the computer's end of the link
        std::uint32_t hostAddress; // the computer's address on it (first octet most significant)
        std::uint32_t peerAddress; // the segment's address
    };

    static constexpr const char* kPrefix = "kst-reach-";

    NetnsLab() = default;
    ~NetnsLab() { tearDown(); }
    NetnsLab(const NetnsLab&) = delete;
    NetnsLab& operator=(const NetnsLab&) = delete;

    // Builds the lab; an empty text on success, else why it cannot be built here.
    std::string build() {
        if (::geteuid() != 0) {
            return "network namespaces need root";
        }
        m_ip = FindProgram("ip");
        if (m_ip.empty()) {
            return "the ip command is not installed";
        }
        removeLeftovers();
        const std::string pid = std::to_string(::getpid());
        m_segments = {{kPrefix + pid + "-a", "rch-a", 0x0A4D0101, 0x0A4D0102},  // 10.77.1.1 / .2
                      {kPrefix + pid + "-b", "rch-b", 0x0A4D0201, 0x0A4D0202}}; // 10.77.2.1 / .2
        for (const Segment& s : m_segments) {
            if (!ip({"netns", "add", s.ns})) {
                return "cannot create network namespace " + s.ns + " (ip netns add failed)";
            }
            m_made.push_back(s.ns);
            const std::string peer = s.hostInterface + "-p";
            if (!ip({"link", "add", s.hostInterface, "type", "veth", "peer", "name", peer, "netns", s.ns}) ||
                !ip({"addr", "add", cidr(s.hostAddress), "brd", "+", "dev", s.hostInterface}) ||
                !ip({"link", "set", s.hostInterface, "up"}) || !ip({"-n", s.ns, "link", "set", "lo", "up"}) ||
                !ip({"-n", s.ns, "addr", "add", cidr(s.peerAddress), "brd", "+", "dev", peer}) ||
                !ip({"-n", s.ns, "link", "set", peer, "up"})) {
                return "cannot link namespace " + s.ns + " by a veth pair";
            }
        }
        // What else a technician's computer has: a link that is down, and a virtual adapter
        // that is up with a link and leads nowhere (a veth pair with both ends here, as a
        // host-only adapter with no virtual machine running). Its other end is up too but has no
        // IPv4 address, so it is no broadcast interface either.
        if (!ip({"link", "add", "rch-down", "type", "veth", "peer", "name", "rch-down-p"}) ||
            !ip({"addr", "add", "10.77.3.1/24", "brd", "+", "dev", "rch-down"}) ||
            !ip({"link", "add", "rch-virt", "type", "veth", "peer", "name", "rch-virt-p"}) ||
            !ip({"addr", "add", "10.77.5.1/24", "brd", "+", "dev", "rch-virt"}) ||
            !ip({"link", "set", "rch-virt", "up"}) || !ip({"link", "set", "rch-virt-p", "up"})) {
            return "cannot add the extra veth interfaces";
        }
        // A tap adapter that no program has opened (a VPN or virtual machine not running) is up
        // but has no carrier; where there is no tun device, the test does without it.
        if (ip({"tuntap", "add", "dev", "rch-tap", "mode", "tap"})) {
            ip({"addr", "add", "10.77.4.1/24", "brd", "+", "dev", "rch-tap"});
            ip({"link", "set", "rch-tap", "up"});
        }
        return {};
    }

    const Segment& segment(std::size_t i) const { return m_segments.at(i); }

    // Gives the segment's end of the link one more address, in a /24 of its own that no route of
    // the computer leads to (as a recorder still on its factory address). True on success.
    bool addSegmentAddress(std::size_t i, std::uint32_t address) const {
        const Segment& s = segment(i);
        return ip({"-n", s.ns, "addr", "replace", cidr(address), "dev", s.hostInterface + "-p"});
    }

    // Runs f on a thread that has entered the segment's namespace; sockets f creates belong to
    // that namespace for good.
    template <class F> auto inSegment(std::size_t i, F f) -> decltype(f()) {
        decltype(f()) result{};
        std::string error;
        std::thread worker([&] {
            const std::string path = "/run/netns/" + segment(i).ns;
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
                error = "cannot enter " + path;
            } else {
                result = f();
            }
            if (fd >= 0) {
                ::close(fd);
            }
        });
        worker.join();
        if (!error.empty()) {
            throw std::runtime_error(error);
        }
        return result;
    }

    void tearDown() {
        for (const std::string& ns : m_made) {
            ip({"netns", "del", ns});
        }
        m_made.clear();
    }

private:
    static std::string cidr(std::uint32_t a) {
        return std::to_string(a >> 24) + "." + std::to_string(a >> 16 & 255) + "." +
               std::to_string(a >> 8 & 255) + "." + std::to_string(a & 255) + "/24";
    }

    // Runs ip with these arguments; true when it succeeded.
    bool ip(const std::vector<std::string>& args) const {
        std::vector<std::string> all{m_ip};
        all.insert(all.end(), args.begin(), args.end());
        try {
            return RunProgram(all).status == 0;
        } catch (const std::system_error&) {
            return false;
        }
    }

    // Namespaces of an earlier run that was killed before it could delete them.
    void removeLeftovers() const {
        DIR* dir = ::opendir("/run/netns");
        if (dir == nullptr) {
            return;
        }
        std::vector<std::string> stale;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.rfind(kPrefix, 0) != 0) {
                continue;
            }
            const std::string rest = name.substr(std::string(kPrefix).size());
            const pid_t owner = pid_t(std::strtol(rest.c_str(), nullptr, 10));
            if (owner > 0 && ::kill(owner, 0) != 0 && errno == ESRCH) {
                stale.push_back(name);
            }
        }
        ::closedir(dir);
        for (const std::string& ns : stale) {
            ip({"netns", "del", ns});
        }
    }

    std::string m_ip;
    std::vector<Segment> m_segments;
    std::vector<std::string> m_made;
};

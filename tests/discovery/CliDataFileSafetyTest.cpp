// pellory-cli on data files that are broken, shared by several processes, limited in size, on a
// full file system, or stopped by a signal during a save: nothing is lost and nothing untrue said.
#include "clientstore/DataFileLock.h"
#include "tests/common/ChildProgram.h"
#include "tests/common/Files.h"
#include "tests/common/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>

#include <memory>
#include <regex>
#include <set>

namespace {

const std::string kCli = KST_BIN_DIR "/pellory-cli";

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

mode_t ModeOf(const std::filesystem::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// A data file of `devices` devices (about 130 bytes each), as the client writes it.
std::string DataFileOf(int devices) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n<DATAROOT>\r\n\t<ORGINFO/>\r\n\t<DEVINFO>\r\n";
    for (int i = 1; i <= devices; ++i) {
        const std::string n = std::to_string(i);
        text += "\t\t<DEV id=\"" + n + "\" name=\"Old" + n + "\" host=\"10.9." + std::to_string(i / 250) +
                "." + std::to_string(i % 250) +
                "\" port=\"37777\" cameras=\"0\" username=\"admin\" OrgId=\"0\"/>\r\n";
    }
    text += "\t</DEVINFO>\r\n\t<GLOBAL index=\"" + std::to_string(devices + 1) + "\"/>\r\n</DATAROOT>\r\n";
    return text;
}

class PelloryCliDataFileSafety : public ::testing::Test {
protected:
    void SetUp() override { WriteFile(m_dir / "pw", "s3cret\n"); }

    std::vector<std::string> Register(const std::string& name, const std::string& ip,
                                      const std::filesystem::path& data) const {
        return {kCli,     "register", "--data",          data.string(),
                "--user", "admin",    "--password-file", (m_dir / "pw").string(),
                "--ip",   ip,         "--port",          "37777",
                "--name", name,       "--channels",      "2"};
    }
    std::vector<std::string> Register(const std::string& name, const std::string& ip) const {
        return Register(name, ip, m_data);
    }

    TempDir m_dir;
    std::filesystem::path m_data = m_dir / "Data.xml";
};

TEST_F(PelloryCliDataFileSafety, BrokenFilesAreRefusedWithWhereAndWhyAndLeftAsTheyAre) {
    struct Broken {
        const char* what;
        std::string text;
        const char* where;
        const char* why;
    };
    const Broken cases[] = {
        {"cut in a device's tag", "<DATAROOT><DEVINFO><DEV id=\"1\" name=\"A\" pass", "line 1 (byte 19)",
         "a tag is not closed"},
        {"unclosed comment", "<DATAROOT>\n<!-- old devices\n<DEVINFO/><GLOBAL index=\"9\"/></DATAROOT>\n",
         "line 2 (byte 11)", "a comment is not closed"},
        {"unclosed CDATA", "<DATAROOT><![CDATA[ x </DATAROOT>", "line 1 (byte 10)",
         "a CDATA section is not closed"},
        {"notes", "front door 10.0.0.5\n", "line 1 (byte 0)", "not one element in the file"},
        {"README", "\n\n# Pellory\n\nSee <b>Data.xml</b>.\n", "line 3 (byte 2)", "text outside any element"},
    };
    for (const Broken& c : cases) {
        WriteFile(m_data, c.text);
        ChildResult r = RunProgram(Register("New", "10.0.0.1"));
        EXPECT_EQ(r.status, 9) << c.what << ": " << r.err;
        const std::string expected =
            "the data file " + m_data.string() + " cannot be used: " + c.where + ": ";
        EXPECT_TRUE(Contains(r.err, expected)) << c.what << ": " << r.err;
        EXPECT_TRUE(Contains(r.err, c.why)) << c.what << ": " << r.err;

        r = RunProgram({kCli, "devices", "--data", m_data.string()});
        EXPECT_EQ(r.status, 9) << c.what << ": " << r.err;
        EXPECT_TRUE(Contains(r.err, expected)) << c.what << ": " << r.err;
        EXPECT_EQ(r.out, "") << c.what;

        EXPECT_EQ(ReadFile(m_data), c.text) << c.what;
        EXPECT_EQ(FolderEntries(m_dir.path()), (std::vector<std::string>{"Data.xml", "Data.xml.lock", "pw"}));
    }
}

// Ten processes at once on one file: each lands with an id of its own, or says it could not.
TEST_F(PelloryCliDataFileSafety, ConcurrentRegistrationsAllLandWithDistinctIdsOrSaySo) {
    WriteFile(m_data, DataFileOf(50));
    std::vector<std::unique_ptr<ChildProgram>> children;
    for (int i = 0; i < 10; ++i) {
        children.push_back(std::make_unique<ChildProgram>(
            Register("Cam" + std::to_string(i), "10.1.0." + std::to_string(i + 1))));
    }
    std::set<std::string> ids;
    int landed = 0;
    const std::regex reported(R"(as device (\d+) in )");
    for (int i = 0; i < 10; ++i) {
        const ChildResult r = children[static_cast<std::size_t>(i)]->Finish();
        std::smatch m;
        if (r.status == 0) {
            ASSERT_TRUE(std::regex_search(r.out, m, reported)) << r.out;
            EXPECT_TRUE(ids.insert(m[1].str()).second) << "id " << m[1] << " reported twice";
            ++landed;
        } else {
            EXPECT_FALSE(r.err.empty()) << "process " << i << " failed without a word";
        }
    }
    EXPECT_EQ(RunProgram({"/usr/bin/xmllint", "--noout", m_data.string()}).status, 0);
    const ChildResult list = RunProgram({kCli, "devices", "--data", m_data.string(), "--format", "json"});
    ASSERT_EQ(list.status, 0) << list.err;
    const auto devices = nlohmann::json::parse(list.out);
    EXPECT_EQ(devices.size(), 50u + static_cast<std::size_t>(landed));
    std::set<std::uint32_t> allIds;
    for (const auto& d : devices) {
        EXPECT_TRUE(allIds.insert(d.at("id").get<std::uint32_t>()).second) << d.dump();
    }
    for (const std::string& id : ids) {
        EXPECT_EQ(allIds.count(static_cast<std::uint32_t>(std::stoul(id))), 1u) << id;
    }
    EXPECT_EQ(landed, 10) << "waiting a few seconds for the lock is enough for ten short registrations";
}

TEST_F(PelloryCliDataFileSafety, AFileInUseByAnotherProgramIsRefusedAfterAShortWait) {
    WriteFile(m_data, DataFileOf(1));
    DataFileLock held;
    ASSERT_EQ(held.acquire(m_data, std::chrono::milliseconds(0)), "");
    const ChildResult r = RunProgram(Register("New", "10.0.0.1"));
    EXPECT_EQ(r.status, 9) << r.err;
    EXPECT_TRUE(Contains(r.err, "in use by another program (process " + std::to_string(::getpid()) + ")"))
        << r.err;
    EXPECT_EQ(ReadFile(m_data), DataFileOf(1));
}

TEST_F(PelloryCliDataFileSafety, NewFilesAreTheOwnersOnlyAndExistingOnesKeepTheirMode) {
    ASSERT_EQ(RunProgram(Register("A", "10.0.0.1")).status, 0);
    EXPECT_EQ(ModeOf(m_data), 0600u);

    const auto other = m_dir / "Shared.xml";
    WriteFile(other, DataFileOf(1));
    ASSERT_EQ(::chmod(other.c_str(), 0640), 0);
    ASSERT_EQ(RunProgram(Register("B", "10.0.0.2", other)).status, 0);
    EXPECT_EQ(ModeOf(other), 0640u);
}

TEST_F(PelloryCliDataFileSafety, ADanglingLinkIsRefusedNamingTheLinkAndItsTarget) {
    const auto link = m_dir / "Data.xml";
    const auto target = m_dir / "elsewhere.xml";
    std::filesystem::create_symlink(target, link);
    const ChildResult r = RunProgram(Register("A", "10.0.0.1"));
    EXPECT_EQ(r.status, 9) << r.err;
    EXPECT_TRUE(Contains(r.err, link.string() + " cannot be used: it is a symbolic link to " +
                                    target.string() + ", which does not exist"))
        << r.err;
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_FALSE(std::filesystem::exists(target));
}

// A real file size limit on the process: the save fails with the system's reason, the old file
// stays and no temporary file is left.
TEST_F(PelloryCliDataFileSafety, AFileSizeLimitFailsTheSaveWithItsCause) {
    const std::string old = DataFileOf(1200);
    ASSERT_GT(old.size(), 100000u);
    WriteFile(m_data, old);
    std::vector<std::string> args = {"/usr/bin/prlimit", "--fsize=100000"};
    for (const std::string& a : Register("New", "10.0.0.1")) {
        args.push_back(a);
    }
    const ChildResult r = RunProgram(args);
    EXPECT_EQ(r.status, 11) << r.err;
    EXPECT_TRUE(Contains(r.err, "The data file " + m_data.string() + " could not be saved! (File too large)"))
        << r.err;
    EXPECT_EQ(ReadFile(m_data), old);
    EXPECT_EQ(FolderEntries(m_dir.path()), (std::vector<std::string>{"Data.xml", "Data.xml.lock", "pw"}));
}

// Another user's file that this user may read but not write.
TEST_F(PelloryCliDataFileSafety, AFileThisUserMayNotWriteFailsTheSaveWithItsCause) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can run the tool as another user here";
    }
    const std::string old = DataFileOf(3);
    WriteFile(m_data, old);
    ASSERT_EQ(::chmod(m_dir.path().c_str(), 0777), 0);
    std::vector<std::string> args = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    for (const std::string& a : Register("New", "10.0.0.1")) {
        args.push_back(a);
    }
    const ChildResult r = RunProgram(args);
    EXPECT_EQ(r.status, 11) << r.err;
    EXPECT_TRUE(Contains(r.err, "could not be saved! (Permission denied)")) << r.err;
    EXPECT_EQ(ReadFile(m_data), old);
}

// A full file system, made as a small tmpfs in a mount namespace of the test's own.
TEST_F(PelloryCliDataFileSafety, AFullFileSystemFailsTheSaveWithItsCause) {
    const std::string old = DataFileOf(1400);
    WriteFile(m_dir / "source.xml", old);
    std::filesystem::create_directory(m_dir / "small");
    const std::string cli = [&] {
        std::string line;
        for (const std::string& a : Register("New", "10.0.0.1", m_dir / "small" / "Data.xml")) {
            line += "'" + a + "' ";
        }
        return line;
    }();
    const std::string script =
        "mount -t tmpfs -o size=256k tmpfs small 2>/dev/null || exit 77\n"
        "cp source.xml small/Data.xml || exit 78\n" +
        cli + "\necho status=$?\nls -A small\ncmp -s source.xml small/Data.xml && echo same\n";
    ASSERT_GT(old.size(), 128u * 1024u);
    ASSERT_LT(old.size(), 250u * 1024u);
    const ChildResult r = RunProgram(
        {"/usr/bin/unshare", "-m", "/bin/sh", "-c", "cd '" + m_dir.path().string() + "' && " + script});
    if (r.status == 77 || Contains(r.err, "unshare failed")) {
        GTEST_SKIP() << "no mount namespace with a tmpfs can be made here: " << r.err;
    }
    EXPECT_TRUE(Contains(r.err, "could not be saved! (No space left on device)")) << r.err;
    EXPECT_EQ(r.out, "status=11\nData.xml\nData.xml.lock\nsame\n") << r.err;
}

// SIGINT, SIGTERM and SIGHUP during the save of a large file: the process ends by the signal, the
// old file stays and the temporary file (never readable by others) is gone.
TEST_F(PelloryCliDataFileSafety, AStopSignalDuringASaveRemovesTheTemporaryFile) {
    const std::string old = DataFileOf(150000);
    WriteFile(m_data, old);
    ASSERT_EQ(::chmod(m_data.c_str(), 0640), 0);
    for (const int signo : {SIGINT, SIGTERM, SIGHUP}) {
        const int watch = ::inotify_init1(IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        ASSERT_GE(::inotify_add_watch(watch, m_dir.path().c_str(), IN_CREATE), 0);
        ChildProgram child(Register("New", "10.0.0.1"));
        std::string temp;
        alignas(inotify_event) char events[4096];
        pollfd pfd{watch, POLLIN, 0};
        while (temp.empty() && ::poll(&pfd, 1, 60000) == 1) {
            const ssize_t n = ::read(watch, events, sizeof events);
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(events + at);
                if (e->len > 0 && std::string(e->name).rfind(".Data.xml.", 0) == 0) {
                    temp = e->name;
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
        ::close(watch);
        ASSERT_FALSE(temp.empty()) << "no temporary file appeared";
        struct stat st {};
        if (::stat((m_dir / temp).c_str(), &st) == 0) {
            EXPECT_EQ(st.st_mode & 07777 & ~mode_t{0640}, 0u)
                << temp << " is wider than the file it replaces";
        }
        child.Signal(signo);
        const ChildResult r = child.Finish();
        EXPECT_EQ(r.status, 128 + signo) << "the save ended before the signal came: " << r.out << r.err;
        EXPECT_EQ(FolderEntries(m_dir.path()), (std::vector<std::string>{"Data.xml", "Data.xml.lock", "pw"}))
            << signo;
        EXPECT_EQ(ReadFile(m_data), old) << signo;
    }
}

} // namespace

// Exceptions, events and critical sections.
#include "support/Sync.h"
#include "support/Exceptions.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Zorvik;

namespace {

bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

struct RecordingWindow final : CMessageBoxOwner {
    std::string caption, text;
    int shown = 0;
    void ShowErrorBox(const std::string& c, const std::string& t) override {
        caption = c;
        text = t;
        ++shown;
    }
};

} // namespace

TEST(Exceptions, CarryLocationTextAndCode) {
    const CException plain("CEvent::Wait()", "Unexpected timeout on infinite wait");
    EXPECT_EQ(plain.Location(), "CEvent::Wait()");
    EXPECT_EQ(plain.Text(), "Unexpected timeout on infinite wait");

    const CWin32Exception sys("CEvent::Set()", EBADF);
    EXPECT_EQ(sys.ErrorCode(), static_cast<uint32_t>(EBADF));
    EXPECT_EQ(sys.Text(), std::strerror(EBADF));
    const CWin32Exception copy = sys;
    EXPECT_EQ(copy.Location(), "CEvent::Set()");
    EXPECT_EQ(copy.ErrorCode(), static_cast<uint32_t>(EBADF));
    EXPECT_EQ(copy.Text(), sys.Text());
}

TEST(Exceptions, SocketExceptionIsCaughtByItsBasesButNotTheOtherWayRound) {
    auto throwSocket = [] { throw CSocketSupport::Exception("CSocket::Close()", EBADF); };
    EXPECT_THROW(throwSocket(), CSocketSupport::Exception);
    EXPECT_THROW(throwSocket(), CWin32Exception);
    EXPECT_THROW(throwSocket(), CException);
    try {
        throwSocket();
    } catch (const CException& e) { // caught through the base, still the socket's texts
        EXPECT_EQ(e.Location(), "CSocket::Close()");
        EXPECT_EQ(e.Text(), std::strerror(EBADF));
    }

    bool caughtAsWin32 = false;
    try {
        try {
            throw CWin32Exception("CEvent::Reset()", EINVAL);
        } catch (const CSocketSupport::Exception&) {
            FAIL() << "a CWin32Exception must not match the socket exception";
        }
    } catch (const CWin32Exception& e) {
        caughtAsWin32 = e.ErrorCode() == static_cast<uint32_t>(EINVAL);
    }
    EXPECT_TRUE(caughtAsWin32);
}

TEST(Exceptions, MessageBoxShowsTextWithLocationAsCaption) {
    RecordingWindow window;
    CWin32Exception("CEvent::Create()", EMFILE).ShowMessageBox(&window);
    EXPECT_EQ(window.shown, 1);
    EXPECT_EQ(window.caption, "CEvent::Create()");
    EXPECT_EQ(window.text, std::strerror(EMFILE));

    testing::internal::CaptureStderr();
    CException("CEvent::Wait()", "Unexpected timeout on infinite wait").ShowMessageBox(nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "CEvent::Wait(): Unexpected timeout on infinite wait\n");
}

TEST(Exceptions, SystemErrorTextIsTheSystemsTextAndNeverEmpty) {
    EXPECT_EQ(SystemErrorText(EACCES), std::strerror(EACCES));
    EXPECT_EQ(SystemErrorText(ECONNREFUSED), "Connection refused");
    // No text for this code: the system's own wording for that (or for the failed lookup), not "".
    const std::string unknown = SystemErrorText(99999);
    EXPECT_FALSE(unknown.empty());
    EXPECT_FALSE(SystemErrorText(0xFFFFFFFFu).empty());
}

TEST(Events, ZeroWaitOnManualEventLeavesItSignalled) {
    CManualEvent ev(true);
    EXPECT_TRUE(ev.Wait(0));
    EXPECT_TRUE(ev.Wait(0));
    EXPECT_TRUE(Readable(ev.Handle()));
    ev.Reset();
    EXPECT_FALSE(ev.Wait(0));
    EXPECT_FALSE(Readable(ev.Handle()));
    ev.Set();
    ev.Set(); // setting twice still needs only one reset
    ev.Reset();
    EXPECT_FALSE(ev.Wait(0));
    EXPECT_FALSE(Readable(ev.Handle()));
}

TEST(Events, ZeroWaitOnAutoEventResetsIt) {
    CAutoEvent ev(true);
    EXPECT_TRUE(Readable(ev.Handle()));
    EXPECT_TRUE(ev.Wait(0));
    EXPECT_FALSE(ev.Wait(0));
    EXPECT_FALSE(Readable(ev.Handle()));
    ev.Set();
    ev.Set();
    EXPECT_TRUE(ev.Wait(0));
    EXPECT_FALSE(ev.Wait(0)); // an event is on or off, not a counter
}

TEST(Events, UnsignalledWaitTimesOut) {
    CManualEvent manual(false);
    CAutoEvent automatic(false);
    EXPECT_FALSE(manual.Wait(0));
    EXPECT_FALSE(automatic.Wait(0));
    EXPECT_FALSE(manual.Wait(20));
    EXPECT_FALSE(automatic.Wait(20));
}

TEST(Events, NamedEventsBehaveLikeUnnamedOnes) {
    CManualEvent manual("ready", true);
    CAutoEvent automatic("turn", false);
    EXPECT_EQ(manual.Name(), "ready");
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_FALSE(automatic.Wait(0));
}

TEST(Events, PulseWithoutWaiterLeavesEventUnsignalled) {
    CManualEvent manual(true);
    manual.Pulse();
    EXPECT_FALSE(manual.Wait(0));
    EXPECT_FALSE(Readable(manual.Handle()));
    manual.Pulse();
    EXPECT_FALSE(manual.Wait(0));

    CAutoEvent automatic(false);
    automatic.Pulse();
    EXPECT_FALSE(automatic.Wait(0));
}

TEST(Events, PulseReleasesWaitingThreads) {
    for (bool manualReset : {true, false}) {
        std::unique_ptr<CEvent> ev;
        if (manualReset) {
            ev = std::make_unique<CManualEvent>(false);
        } else {
            ev = std::make_unique<CAutoEvent>(false);
        }
        std::atomic<bool> released{false};
        std::thread waiter([&] {
            ev->Wait(); // only a pulse can end this: the event is never set
            released = true;
        });
        // The waiter may not be inside Wait yet, and a pulse reaches only threads already waiting:
        // pulse until it is released.
        while (!released) {
            ev->Pulse();
            std::this_thread::yield();
        }
        waiter.join();
        EXPECT_FALSE(ev->Wait(0)) << "manual reset " << manualReset;
    }
}

TEST(Events, SetReleasesAllWaitersOfManualAndOneAtATimeOfAutoEvent) {
    CManualEvent gate(false);
    std::atomic<int> through{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i) {
        threads.emplace_back([&] {
            gate.Wait();
            ++through;
        });
    }
    gate.Set();
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(through, 3);
    EXPECT_TRUE(gate.Wait(0));

    CAutoEvent turn(false);
    CAutoEvent done(false);
    int counter = 0; // guarded by the turn: exactly one thread may pass per Set
    threads.clear();
    for (int i = 0; i < 3; ++i) {
        threads.emplace_back([&] {
            turn.Wait();
            ++counter;
            done.Set();
        });
    }
    for (int i = 0; i < 3; ++i) {
        turn.Set();
        done.Wait();
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(counter, 3);
    EXPECT_FALSE(turn.Wait(0));
}

TEST(Events, OperationsOnAClosedHandleThrowWithTheirWhereTexts) {
    CManualEvent ev(false);
    const int handle = ev.Handle();
    ::close(handle);
    auto expectFailure = [](auto operation, const char* where) {
        try {
            operation();
            ADD_FAILURE() << where << " did not throw";
        } catch (const CWin32Exception& e) {
            EXPECT_EQ(e.Location(), where);
            EXPECT_EQ(e.ErrorCode(), static_cast<uint32_t>(EBADF));
            EXPECT_EQ(e.Text(), std::strerror(EBADF));
        }
    };
    expectFailure([&] { ev.Set(); }, "CEvent::Set()");
    expectFailure([&] { ev.Reset(); }, "CEvent::Reset()");
    expectFailure([&] { ev.Pulse(); }, "CEvent::Pulse()");

    CAutoEvent automatic(true);
    const int autoHandle = automatic.Handle();
    ::close(autoHandle);
    expectFailure([&] { automatic.Wait(0); }, "CEvent::Wait() - WaitForSingleObject");

    // Give both objects live descriptors again so that their destructors close nothing foreign.
    for (int number : {handle, autoHandle}) {
        const int fresh = ::eventfd(0, EFD_CLOEXEC);
        ASSERT_GE(fresh, 0);
        if (fresh != number) {
            ::dup2(fresh, number);
            ::close(fresh);
        }
    }
}

TEST(CritSection, IsReentrantAndExcludesOtherThreads) {
    CCritSection section;
    {
        CCritSectionLock outer(section);
        CCritSectionLock inner(section); // the holder may enter again
    }
    long counter = 0; // a plain variable: only the section keeps the two threads apart
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            CCritSectionLock lock(section);
            CCritSectionLock again(section);
            ++counter;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 40000);
}

TEST(CritSection, LockLeftByExceptionLeavesTheSection) {
    CCritSection section;
    EXPECT_THROW(
        {
            CCritSectionLock lock(section);
            throw CException("here", "gone");
        },
        CException);
    bool entered = false;
    std::thread other([&] { // would block for ever if the section were still held
        CCritSectionLock lock(section);
        entered = true;
    });
    other.join();
    EXPECT_TRUE(entered);
}

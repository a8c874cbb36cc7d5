#include "desktop/MessageBox.h"
#include "desktop/GuiThread.h"
#include "desktop/testing/MessageBoxRecorder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

using namespace desktop;

namespace {

QMessageBox* openMessageBox() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
            return box;
        }
    }
    return nullptr;
}

} // namespace

TEST(MessageBox, RecorderAnswersBoxesFromTheWindowThread) {
    MessageBoxRecorder boxes;
    boxes.queueAnswer(IDNO);
    QWidget owner;
    EXPECT_EQ(messageBox(&owner, QStringLiteral("Login failed!"), QStringLiteral("ERROR"), MB_ICONWARNING),
              IDNO);
    EXPECT_EQ(appMessageBox(nullptr, QStringLiteral("Send data error")), IDOK);

    ASSERT_EQ(boxes.count(), 2u);
    EXPECT_EQ(boxes.entries()[0].caption, QStringLiteral("ERROR"));
    EXPECT_EQ(boxes.entries()[0].text, QStringLiteral("Login failed!"));
    EXPECT_EQ(boxes.entries()[0].icon(), MB_ICONWARNING);
    EXPECT_EQ(boxes.entries()[0].owner, &owner);
    EXPECT_TRUE(boxes.entries()[0].fromGuiThread);
    EXPECT_EQ(boxes.entries()[1].caption, applicationName());
    EXPECT_EQ(boxes.entries()[1].icon(), MB_ICONEXCLAMATION);
    EXPECT_EQ(boxes.entries()[1].buttons(), MB_OK);
}

TEST(MessageBox, WorkerWaitsUntilTheWindowThreadHasAnswered) {
    MessageBoxRecorder boxes;
    boxes.answerWith(IDYES);
    QThread* shownOn = nullptr;
    boxes.onShow([&](const MessageBoxRecorder::Entry&) { shownOn = QThread::currentThread(); });

    std::atomic<int> answer{-1};
    std::thread worker([&] {
        answer = messageBox(nullptr, QStringLiteral("Proceed?"), QStringLiteral("Complete"),
                            MB_YESNO | MB_ICONINFORMATION);
    });
    // The worker cannot have its answer before the window thread runs the box.
    EXPECT_EQ(answer.load(), -1);
    ASSERT_TRUE(boxes.waitForCount(1));
    worker.join();

    EXPECT_EQ(answer.load(), IDYES);
    EXPECT_EQ(shownOn, qApp->thread());
    EXPECT_FALSE(boxes.last().fromGuiThread);
    EXPECT_EQ(boxes.last().caption, QStringLiteral("Complete"));
    EXPECT_EQ(boxes.last().buttons(), MB_YESNO);
}

TEST(MessageBox, RealBoxFromAWorkerShowsCaptionTextIconAndButtons) {
    std::atomic<int> answer{-1};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        answer = messageBox(nullptr, QStringLiteral("Open file C:\\a.bin ,failed"), QStringLiteral("Error"),
                            MB_YESNO | MB_ICONERROR);
        finished = true;
    });

    // The box runs its own loop on this thread, so it is looked at and answered from a timer
    // inside that loop, as a user would.
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    bool plainText = false;
    bool workerWaited = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QMessageBox* box = openMessageBox();
        if (box == nullptr) {
            return;
        }
        poll.stop();
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = box->standardButtons();
        plainText = box->textFormat() == Qt::PlainText;
        workerWaited = !finished.load();
        box->button(QMessageBox::No)->click();
    });
    poll.start(5);
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.load(); }, 5000));
    worker.join();

    EXPECT_EQ(title, QStringLiteral("Error"));
    EXPECT_EQ(text, QStringLiteral("Open file C:\\a.bin ,failed"));
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_TRUE(plainText);
    EXPECT_TRUE(workerWaited);
    EXPECT_EQ(answer.load(), IDNO);
}

TEST(MessageBox, OkBoxAnswersOkWhenClosedWithEscape) {
    // Checks from inside the box's own loop until the box is up, then presses Escape.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QMessageBox* box = openMessageBox()) {
            poll.stop();
            QTest::keyClick(box, Qt::Key_Escape);
        }
    });
    poll.start(5);
    const int answer = messageBox(nullptr, QStringLiteral("File has been sent"), QStringLiteral("Kestrion"),
                                  MB_OK | MB_ICONINFORMATION);
    EXPECT_EQ(answer, IDOK);
}

TEST(MessageBox, StoppingReleasesAWorkerWhoseBoxHasNotOpened) {
    MessageBoxRecorder boxes;
    std::atomic<bool> asking{false};
    std::atomic<int> answer{-1};
    std::thread worker([&] {
        asking = true;
        answer = messageBox(nullptr, QStringLiteral("BIOS Upgrade Failed!"), QStringLiteral("Error"));
    });
    // The window thread is busy elsewhere (here: waiting) and never runs the box; stopping
    // releases the worker, and the box is not shown later either.
    while (!asking.load()) {
        std::this_thread::yield();
    }
    stopGuiCalls();
    worker.join();
    EXPECT_EQ(answer.load(), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(boxes.count(), 0u);

    // While stopped, other threads are refused at once; the window thread itself still works.
    std::thread refused([&] { answer = callOnGuiThread([] {}) ? 1 : 0; });
    refused.join();
    EXPECT_EQ(answer.load(), 0);
    EXPECT_EQ(messageBox(nullptr, QStringLiteral("x"), QStringLiteral("y")), IDOK);

    resumeGuiCalls();
    std::thread again([&] { answer = messageBox(nullptr, QStringLiteral("again"), QStringLiteral("y")); });
    ASSERT_TRUE(boxes.waitForCount(2));
    again.join();
    EXPECT_EQ(answer.load(), IDOK);
}

TEST(GuiThread, CallsFromManyThreadsEachRunOnceOnTheWindowThread) {
    constexpr int kThreads = 8;
    int runs = 0; // touched only on the window thread
    bool allOnGuiThread = true;
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&] {
            int local = 0;
            const bool ran = callOnGuiThread([&] {
                allOnGuiThread = allOnGuiThread && isGuiThread();
                local = ++runs;
            });
            if (ran && local > 0) {
                ++done;
            }
        });
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return done.load() == kThreads; }, 5000));
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(runs, kThreads);
    EXPECT_TRUE(allOnGuiThread);
    EXPECT_FALSE([] {
        bool onGui = true;
        std::thread t([&] { onGui = isGuiThread(); });
        t.join();
        return onGui;
    }());
}

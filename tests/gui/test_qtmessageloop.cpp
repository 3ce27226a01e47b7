// The Qt message loop keeps the loop contract: order, hand-over, timers, watches, waiting, errors.
#include "gui/qtmessageloop.h"
#include "qttestapp.h"

#include <gtest/gtest.h>

#include <atomic>
#include <poll.h>
#include <stdexcept>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

class QtLoop : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        loop = CreateQtMessageLoop();
    }
    std::unique_ptr<MessageLoop> loop;
};

TEST_F(QtLoop, WorkersPostInOrderAndHandOverWorkWithItsException) {
    std::vector<int> order;
    std::atomic<bool> rethrown{false};
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i)
            loop->Post([&, i] { order.push_back(i); });
        loop->RunAndWait([&] { order.push_back(loop->IsLoopThread() ? 3 : -1); });
        try {
            loop->RunAndWait([] { throw std::runtime_error("boom"); });
        } catch (const std::runtime_error&) {
            rethrown = true;
        }
        loop->Wake(); // the loop re-checks its condition now, not at its deadline
    });
    EXPECT_TRUE(loop->WaitUntil([&] { return rethrown.load(); }, 60s));
    worker.join();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(QtLoop, WaitUntilIsWokenByAWorkerAndGivesUpAtItsTimeout) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        std::this_thread::sleep_for(100ms);
        done = true;
        loop->Wake();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(loop->WaitUntil([&] { return done.load(); }, 60s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s) << "woken by its timeout, not by Wake";
    worker.join();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(loop->WaitUntil([] { return false; }, 50ms));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 50ms);
}

TEST_F(QtLoop, TimersFireOnceOrPeriodicallyNeverInsideThemselvesAndStopWhenKilled) {
    int once = 0, periodic = 0, depth = 0, maxDepth = 0;
    loop->SetTimer(10ms, false, [&] { ++once; });
    MessageLoop::TimerId id = 0;
    id = loop->SetTimer(10ms, true, [&] {
        maxDepth = std::max(maxDepth, ++depth);
        ++periodic;
        loop->WaitUntil([] { return false; }, 30ms); // events flow, the same timer must not re-enter
        if (periodic == 3) loop->KillTimer(id);
        --depth;
    });
    EXPECT_TRUE(loop->WaitUntil([&] { return once == 1 && periodic == 3; }, 60s));
    loop->WaitUntil([] { return false; }, 50ms); // a killed timer stays quiet
    EXPECT_EQ(once, 1);
    EXPECT_EQ(periodic, 3);
    EXPECT_EQ(maxDepth, 1);
}

TEST_F(QtLoop, SocketWatchReportsRealReadinessIncludingHangUp) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::vector<short> seen;
    MessageLoop::WatchId id = loop->WatchSocket(fds[0], POLLIN, [&](short revents) {
        seen.push_back(revents);
        char buf[8];
        if (::read(fds[0], buf, sizeof(buf)) <= 0) loop->Unwatch(id);
    });
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    loop->WaitUntil([&] { return seen.size() == 1; }, 60s);
    ::close(fds[1]);
    loop->WaitUntil([&] { return seen.size() == 2; }, 60s);
    ::close(fds[0]);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[0] & POLLIN);
    EXPECT_TRUE(seen[1] & POLLHUP);
}

TEST_F(QtLoop, AnExceptionFromAJobIsReportedAndTheLoopRunsOnUntilQuit) {
    std::vector<std::string> reported;
    LoopErrorReporter previous = SetLoopErrorReporter([&](const std::string& m) { reported.push_back(m); });
    loop->Post([] { throw std::runtime_error("job failed"); });
    loop->SetTimer(5ms, false, [this] {
        loop->Quit(); // runs after this job: its exception is reported first
        throw std::runtime_error("timer failed");
    });
    loop->Run();
    SetLoopErrorReporter(previous);
    EXPECT_EQ(reported, (std::vector<std::string>{"job failed", "timer failed"}));
}

// A Quit from another thread that comes before Run, or whose job already ran inside a wait before
// Run, ends Run at once once the jobs posted before it have run; a later Run waits for its own Quit.
TEST_F(QtLoop, AQuitBeforeRunIsNotLost) {
    for (const bool waitFirst : {false, true}) {
        std::vector<int> order;
        std::thread worker([&] {
            loop->Post([&] { order.push_back(1); });
            loop->Quit();
        });
        worker.join();
        if (waitFirst) loop->WaitUntil([&] { return !order.empty(); }, 60s);
        bool hung = false; // the hang guard: only a lost Quit lets it fire
        const MessageLoop::TimerId guard = loop->SetTimer(20s, false, [&] {
            hung = true;
            loop->Quit();
        });
        loop->Run();
        loop->KillTimer(guard);
        EXPECT_FALSE(hung) << (waitFirst ? "after a wait" : "straight away");
        EXPECT_EQ(order, std::vector<int>{1});
    }
    bool quitByTimer = false;
    loop->SetTimer(10ms, false, [&] {
        quitByTimer = true;
        loop->Quit();
    });
    loop->Run();
    EXPECT_TRUE(quitByTimer) << "a Quit ended two Runs";
}

// The poll message loop: cross-thread hand-over, timers, socket watches and waiting.
#include "platform/errors.h"
#include "platform/msgloop.h"
#include "platform/ttimer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <poll.h>
#include <stdexcept>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

} // namespace

TEST(MessageLoop, WaitUntilIsWokenByAWorkerWithoutSpinning) {
    auto loop = CreatePollMessageLoop();
    std::atomic<bool> done{false};
    std::thread worker([&] {
        std::this_thread::sleep_for(300ms);
        done = true;
        loop->Wake();
    });
    const double cpuBefore = ThreadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(loop->WaitUntil([&] { return done.load(); }, 60s));
    const auto waited = std::chrono::steady_clock::now() - start;
    worker.join();
    EXPECT_LT(waited, 30s) << "woken by its timeout, not by Wake";
    // A 1 ms sleep-and-poll loop would burn far more than this over 300 ms of waiting.
    EXPECT_LT(ThreadCpuSeconds() - cpuBefore, 0.05);
}

TEST(MessageLoop, WaitUntilGivesUpAfterItsTimeout) {
    auto loop = CreatePollMessageLoop();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(loop->WaitUntil([] { return false; }, 50ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
}

TEST(MessageLoop, PostedJobsRunOnTheLoopThreadInOrder) {
    auto loop = CreatePollMessageLoop();
    std::vector<int> order;
    std::atomic<int> notOnLoop{0};
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i)
            loop->Post([&, i] {
                if (!loop->IsLoopThread()) ++notOnLoop;
                order.push_back(i);
            });
    });
    worker.join();
    loop->WaitUntil([&] { return order.size() == 3; }, 60s);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(notOnLoop, 0);
}

TEST(MessageLoop, RunAndWaitHandsWorkToTheLoopAndRethrows) {
    auto loop = CreatePollMessageLoop();
    std::atomic<bool> finished{false};
    int value = 0;
    bool threw = false;
    std::thread worker([&] {
        loop->RunAndWait([&] { value = 42; });
        try {
            loop->RunAndWait([] { throw EInOutError("disk full"); });
        } catch (const EInOutError& e) {
            threw = e.Message() == "disk full";
        }
        finished = true;
        loop->Wake();
    });
    EXPECT_TRUE(loop->WaitUntil([&] { return finished.load(); }, 60s));
    worker.join();
    EXPECT_EQ(value, 42);
    EXPECT_TRUE(threw);
}

TEST(MessageLoop, TimersFireOnceOrPeriodicallyAndCanBeKilled) {
    auto loop = CreatePollMessageLoop();
    int once = 0, periodic = 0;
    loop->SetTimer(10ms, false, [&] { ++once; });
    MessageLoop::TimerId id = loop->SetTimer(10ms, true, [&] { ++periodic; });
    loop->WaitUntil([&] { return periodic >= 3; }, 60s);
    loop->KillTimer(id);
    int seen = periodic;
    loop->WaitUntil([] { return false; }, 50ms);
    EXPECT_EQ(once, 1);
    EXPECT_EQ(periodic, seen);
}

TEST(MessageLoop, ATimerDoesNotReenterItsOwnHandler) {
    auto loop = CreatePollMessageLoop();
    int depth = 0, maxDepth = 0, calls = 0;
    MessageLoop::TimerId id = loop->SetTimer(5ms, true, [&] {
        ++calls;
        maxDepth = std::max(maxDepth, ++depth);
        loop->WaitUntil([] { return false; }, 30ms); // keeps messages flowing, as a scan does
        --depth;
    });
    loop->WaitUntil([&] { return calls >= 2; }, 60s);
    loop->KillTimer(id);
    EXPECT_EQ(maxDepth, 1);
}

TEST(MessageLoop, SocketWatchReportsReadiness) {
    auto loop = CreatePollMessageLoop();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string got;
    MessageLoop::WatchId id = loop->WatchSocket(fds[0], POLLIN, [&](short revents) {
        char buf[16];
        if (revents & POLLIN) got.append(buf, static_cast<std::size_t>(read(fds[0], buf, sizeof(buf))));
    });
    std::thread writer([&] { EXPECT_EQ(write(fds[1], "ping", 4), 4); });
    EXPECT_TRUE(loop->WaitUntil([&] { return got == "ping"; }, 60s));
    writer.join();
    loop->Unwatch(id);
    close(fds[0]);
    close(fds[1]);
}

/// Collects what the loops report for one test.
class LoopErrors : public ::testing::Test {
protected:
    std::vector<std::string> reported;
    ScopedLoopErrorReporter reporter{[this](const std::string& message) { reported.push_back(message); }};
    std::unique_ptr<MessageLoop> loop = CreatePollMessageLoop();
};

// Each kind of handler throws once; the next job, tick or readiness still runs.
TEST_F(LoopErrors, AThrowingHandlerIsReportedAndTheLoopGoesOn) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    int jobs = 0, ticks = 0, ready = 0;
    loop->Post([] { throw EInOutError("job failed"); });
    loop->Post([&] { ++jobs; }); // same batch as the throwing job
    MessageLoop::TimerId timer = loop->SetTimer(5ms, true, [&] {
        if (++ticks == 1) throw EInOutError("tick failed");
    });
    ScopedSocketWatch watch(*loop, fds[0], POLLIN, [&](short) {
        char c;
        ASSERT_EQ(read(fds[0], &c, 1), 1);
        if (++ready == 1) throw std::runtime_error("handler failed");
    });
    ASSERT_EQ(write(fds[1], "ab", 2), 2);
    EXPECT_TRUE(loop->WaitUntil([&] { return jobs == 1 && ticks >= 2 && ready == 2; }, 60s));
    loop->KillTimer(timer);
    std::sort(reported.begin(), reported.end());
    EXPECT_EQ(reported, (std::vector<std::string>{"handler failed", "job failed", "tick failed"}));
    close(fds[0]);
    close(fds[1]);
}

TEST_F(LoopErrors, RunOutlivesThrowingJobsAndEndsOnQuitFromAnotherThread) {
    bool after = false;
    std::thread worker([&] {
        loop->Post([] { throw 42; });
        loop->Post([&] { after = true; });
        loop->Quit();
    });
    loop->Run();
    worker.join();
    EXPECT_TRUE(after);
    EXPECT_EQ(reported, std::vector<std::string>{"Unknown exception"});
}

// Run in a child process: without descriptors left, creating a loop must fail, naming eventfd.
[[noreturn]] void CreateLoopWithoutDescriptors() {
    // Once with descriptors: the sanitizers' first type checks need descriptors of their own.
    CreatePollMessageLoop();
    std::string(Exception("warm-up").what());
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = 0;
    setrlimit(RLIMIT_NOFILE, &limit);
    try {
        CreatePollMessageLoop();
    } catch (const Exception& e) {
        _exit(std::string(e.what()).find("eventfd") != std::string::npos ? 0 : 2);
    }
    _exit(1);
}

TEST(MessageLoopSetUp, AMissingWakeUpDescriptorIsAnError) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the thread sanitizer's runtime cannot start a child without descriptors";
#endif
    EXPECT_EXIT(CreateLoopWithoutDescriptors(), ::testing::ExitedWithCode(0), "");
}

TEST_F(LoopErrors, ATimerWhoseHandlerThrowsKeepsTicking) {
    ScopedMainLoop install(loop.get());
    TTimer timer;
    int ticks = 0;
    timer.OnTimer = [&] {
        if (++ticks == 1) throw EInOutError("tick failed");
    };
    timer.SetInterval(5);
    timer.SetEnabled(true);
    EXPECT_TRUE(loop->WaitUntil([&] { return ticks >= 3; }, 60s));
    EXPECT_EQ(reported, std::vector<std::string>{"tick failed"});
    timer.SetEnabled(false);
    const int stopped = ticks;
    loop->WaitUntil([] { return false; }, 30ms);
    EXPECT_EQ(ticks, stopped);
}

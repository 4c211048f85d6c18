#include "Clock.h"
#include "FloatingPoint.h"
#include "WorkerThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <stdexcept>

namespace {

TEST(WorkerThread, ReportsStillActiveUntilTheProcedureReturnsItsCode)
{
    std::atomic<bool> release{false};
    CWorkerThread t;
    EXPECT_EQ(t.GetExitCode(), 0u); // never started
    ASSERT_TRUE(t.Start([&] {
        while (!release.load())
            Sleep(1);
        return 42u;
    }));
    EXPECT_TRUE(t.IsActive());
    EXPECT_EQ(t.GetExitCode(), STILL_ACTIVE);
    EXPECT_FALSE(t.Start([] { return 0u; })); // one at a time
    release = true;
    t.Join();
    EXPECT_EQ(t.GetExitCode(), 42u);
    // Restart after the first run ended.
    ASSERT_TRUE(t.Start([] { return 3u; }));
    t.Join();
    EXPECT_EQ(t.GetExitCode(), 3u);
}

TEST(WorkerThread, EscapingExceptionEndsWithCodeOneAndDestructorJoins)
{
    std::atomic<int> ran{0};
    {
        CWorkerThread t;
        ASSERT_TRUE(t.Start([&]() -> unsigned {
            ++ran;
            throw std::runtime_error("boom");
        }));
        t.Join();
        EXPECT_EQ(t.GetExitCode(), 1u);
    }
    {
        CWorkerThread t;
        t.Start([&] {
            Sleep(20);
            ++ran;
            return 0u;
        });
    } // the destructor waits for the work
    EXPECT_EQ(ran.load(), 2);
}

TEST(FloatingPoint, FaultsAreSeenAndUnderflowIsNot)
{
    ClearFloatingPointFaults();
    EXPECT_FALSE(FloatingPointFaultRaised());
    volatile double tiny = 1e-300;
    volatile double u = tiny * tiny; // underflow only
    (void)u;
    EXPECT_FALSE(FloatingPointFaultRaised());
    volatile double zero = 0.0;
    volatile double r = std::sqrt(zero - 1.0);
    (void)r;
    EXPECT_TRUE(FloatingPointFaultRaised());
    EXPECT_STREQ(FloatingPointFaultText(), "invalid floating-point operation");
    ClearFloatingPointFaults();
    volatile double d = 1.0 / zero;
    (void)d;
    EXPECT_TRUE(FloatingPointFaultRaised());
    ClearFloatingPointFaults();
    EXPECT_STREQ(FloatingPointFaultText(), "");
}

TEST(Clock, TickCountAdvancesWithSleep)
{
    const int64_t a = MonotonicMilliseconds();
    Sleep(15);
    EXPECT_GE(MonotonicMilliseconds() - a, 15);
}

} // namespace

// A worker thread that its owner polls: still active, or finished with an
// exit code. The owner keeps the object; its destructor joins the thread.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

// The exit code a running thread reports.
constexpr unsigned STILL_ACTIVE = 259;

class CWorkerThread {
public:
    using Procedure = std::function<unsigned()>;

    CWorkerThread() = default;
    ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // Starts the procedure on a new thread; false when one is already running
    // or the thread cannot be created. An exception escaping the procedure
    // ends the thread with exit code 1.
    bool Start(Procedure proc);

    // STILL_ACTIVE while the procedure runs, then its result.
    unsigned GetExitCode() const { return exitCode.load(std::memory_order_acquire); }
    bool IsActive() const { return GetExitCode() == STILL_ACTIVE; }

    // Waits for the thread to end (nothing when none was started).
    void Join();

private:
    std::thread thread;
    std::atomic<unsigned> exitCode{0};
};

// The engine's worker threads: a body run once on each of a number of
// threads (the calling thread is worker 0), and the partition of the rows
// of a packed triangle into bands of about equal work.
#pragma once

#include <algorithm>
#include <cfenv>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>



// The floating-point faults a worker hands on to the thread that started it.
constexpr int kWorkerFaults = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;

// Waits until all of a fixed number of threads have arrived.
class CWorkerBarrier {
public:
    explicit CWorkerBarrier(int count) : count(count) {}
    void Wait()
    {
        std::unique_lock<std::mutex> lock(mutex);
        const unsigned generation = passed;
        if (++arrived == count) {
            arrived = 0;
            ++passed;
            wake.notify_all();
            return;
        }
        wake.wait(lock, [&] { return passed != generation; });
    }

private:
    std::mutex mutex;
    std::condition_variable wake;
    int count;
    int arrived = 0;
    unsigned passed = 0;
};

// Runs body(worker, workers, barrier) for worker 0 .. workers - 1, each on
// its own thread, the caller running worker 0, and returns when all have
// ended. Fewer workers run when threads cannot be started; every body is
// told the number that run, and the barrier waits for that many. The floating-point faults the workers
// raise are raised on the calling thread.
template <class Body>
void RunOnWorkers(int workers, Body&& body)
{
    if (workers <= 1) {
        CWorkerBarrier alone(1);
        body(0, 1, alone);
        return;
    }
    std::vector<std::thread> threads;
    std::vector<int> faults(static_cast<size_t>(workers), 0);
    std::mutex gateLock;
    std::condition_variable gate;
    int started = -1; // set once every thread has been started
    std::unique_ptr<CWorkerBarrier> barrier;
    threads.reserve(static_cast<size_t>(workers - 1));
    for (int w = 1; w < workers; ++w) {
        try {
            threads.emplace_back([&, w] {
                int count;
                {
                    std::unique_lock<std::mutex> lock(gateLock);
                    gate.wait(lock, [&] { return started >= 0; });
                    count = started;
                }
                std::feclearexcept(kWorkerFaults);
                body(w, count, *barrier);
                faults[static_cast<size_t>(w)] = std::fetestexcept(kWorkerFaults);
            });
        } catch (const std::system_error&) {
            break;
        }
    }
    const int count = static_cast<int>(threads.size()) + 1;
    barrier.reset(new CWorkerBarrier(count));
    {
        std::lock_guard<std::mutex> lock(gateLock);
        started = count;
    }
    gate.notify_all();
    body(0, count, *barrier);
    for (std::thread& t : threads)
        t.join();
    int raised = 0;
    for (int f : faults)
        raised |= f;
    if (raised)
        std::feraiseexcept(raised);
}

// Splits rows 0 .. rows - 1 of a packed triangle into `bands` runs whose
// work is about equal when row r costs min(rows - r, width) (a dense
// triangle for width >= rows, uniform rows for a narrow band). Band b is
// rows start[b] .. start[b + 1] - 1.
inline std::vector<int> BandRows(int rows, int bands, double width)
{
    std::vector<double> cost(static_cast<size_t>(rows) + 1, 0.0);
    for (int r = 0; r < rows; ++r)
        cost[static_cast<size_t>(r) + 1] = cost[static_cast<size_t>(r)] + std::min<double>(rows - r, width) + 8.0;
    std::vector<int> start(static_cast<size_t>(bands) + 1, rows);
    start[0] = 0;
    const double total = cost[static_cast<size_t>(rows)];
    int r = 0;
    for (int b = 1; b < bands; ++b) {
        const double goal = total * b / bands;
        while (r < rows && cost[static_cast<size_t>(r)] < goal)
            ++r;
        start[static_cast<size_t>(b)] = r;
    }
    return start;
}

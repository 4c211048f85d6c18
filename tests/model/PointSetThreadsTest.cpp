// Readers on several threads meet a set whose inserts still wait.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "PointSet.h"

namespace point_set_threads_test {

using Read = bool (*)(const CPointSet&, int);

// Each reader sees the whole set in order, whichever of them merges.
TEST(PointSetThreads, ReadersOfWaitingInsertsAgree)
{
    const std::vector<std::pair<const char*, Read>> reads = {
        {"GetAt", [](const CPointSet& s, int n) { return s.GetSize() == n && s.GetAt(n - 1)->x == n - 1; }},
        {"GetData",
         [](const CPointSet& s, int n) {
             CObjectPoint* const* data = s.GetData();
             for (int i = 0; i < n; ++i)
                 if (data[i]->x != i)
                     return false;
             return true;
         }},
        {"IndexOfLabel", [](const CPointSet& s, int n) { return s.IndexOfLabel(CNameBuffer("Q7")) == 7 && n > 7; }},
        {"copy", [](const CPointSet& s, int n) { return CPointSet(s).GetSize() == n; }},
    };
    constexpr int kPoints = 2000;
    for (int r = 0; r < 3; ++r) {
        for (const auto& read : reads) {
            SCOPED_TRACE(read.first);
            CPointSet set;
            // Labels Q0.. added backwards: every insert goes to the front.
            for (int i = kPoints - 1; i >= 0; --i)
                set.AddPointSorted(CObjectPoint(("Q" + std::to_string(i)).c_str(), double(i), 0.0, 0.0));
            std::atomic<int> good{0};
            std::vector<std::thread> threads;
            for (int t = 0; t < 6; ++t)
                threads.emplace_back([&] { good += read.second(set, kPoints) ? 1 : 0; });
            for (std::thread& t : threads)
                t.join();
            EXPECT_EQ(good.load(), 6);
        }
    }
}

} // namespace point_set_threads_test

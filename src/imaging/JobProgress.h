// The progress record of a correspondence job: written by the phase's
// thread, read by its watchers, with a stop request the watchers set.
#pragma once

#include <atomic>

class CJobProgress {
public:
    // Display states of the running phase.
    enum State : int {
        kReset = 0,
        kLinking = 1,
        kBackProjecting = 2,
        kDone = 3,
        kMerging = 4,
        kRemovingTwoRayPoints = 5,
        kSorting = 6,
        kStopRequested = 7
    };

    CJobProgress() = default;
    CJobProgress(const CJobProgress&) = delete;
    CJobProgress& operator=(const CJobProgress&) = delete;
    virtual ~CJobProgress() = default;

    // State 0, fraction 0, every counter 0, no stop request, not done.
    void Reset();

    void SetState(int state) { m_state.store(state, std::memory_order_relaxed); }
    int GetState() const { return m_state.load(std::memory_order_relaxed); }

    // The phase has ended: the flag is the phase's last store.
    bool IsDone() const { return m_done.load(std::memory_order_acquire); }
    // A stop request holds until the next Reset; the running phase leaves
    // its loops at its next check and still ends done.
    void RequestStop();
    bool IsStopRequested() const { return m_stop.load(std::memory_order_acquire); }

    // Pair bookkeeping of the pairwise phases.
    void InitPairs(int n);
    void AddPairDone() { AddPairsDone(1); }
    void AddPairsDone(int k);
    void SetPairProgress(int n, int i, int step);
    int GetPairCount() const { return m_pairCount.load(std::memory_order_relaxed); }
    int GetPairsDone() const { return m_pairsDone.load(std::memory_order_relaxed); }

    double GetFraction() const { return m_fraction.load(std::memory_order_relaxed); }
    void SetFraction(double f) { m_fraction.store(f, std::memory_order_relaxed); }

    int GetLinked() const { return m_linked.load(std::memory_order_relaxed); }
    void SetLinked(int n) { m_linked.store(n, std::memory_order_relaxed); }
    int GetMerged() const { return m_merged.load(std::memory_order_relaxed); }
    void SetMerged(int n) { m_merged.store(n, std::memory_order_relaxed); }
    int GetRemoved() const { return m_removed.load(std::memory_order_relaxed); }
    void SetRemoved(int n) { m_removed.store(n, std::memory_order_relaxed); }
    int GetBackProjected() const { return m_backProjected.load(std::memory_order_relaxed); }
    void SetBackProjected(int n) { m_backProjected.store(n, std::memory_order_relaxed); }

    // For the phases: a phase begins (not done) and ends (state 3, then done).
    void BeginPhase() { m_done.store(false, std::memory_order_release); }
    void EndPhase();

    // part / whole, 0 for an empty whole.
    static double Ratio(double part, double whole) { return whole > 0.0 ? part / whole : 0.0; }

private:
    void UpdatePairFraction();

    std::atomic<int> m_state{kReset};
    std::atomic<double> m_fraction{0.0};
    std::atomic<int> m_linked{0};
    std::atomic<int> m_merged{0};
    std::atomic<int> m_removed{0};
    std::atomic<int> m_backProjected{0};
    std::atomic<int> m_pairCount{0};
    std::atomic<int> m_pairsDone{0};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
};

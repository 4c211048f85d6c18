#include "JobProgress.h"

void CJobProgress::Reset()
{
    m_state.store(kReset, std::memory_order_relaxed);
    m_fraction.store(0.0, std::memory_order_relaxed);
    m_linked.store(0, std::memory_order_relaxed);
    m_merged.store(0, std::memory_order_relaxed);
    m_removed.store(0, std::memory_order_relaxed);
    m_backProjected.store(0, std::memory_order_relaxed);
    m_pairCount.store(0, std::memory_order_relaxed);
    m_pairsDone.store(0, std::memory_order_relaxed);
    m_stop.store(false, std::memory_order_release);
    m_done.store(false, std::memory_order_release);
}

void CJobProgress::RequestStop()
{
    m_stop.store(true, std::memory_order_release);
    // Shown until the phase writes its next state; a phase that has already
    // ended keeps its state 3.
    int state = m_state.load(std::memory_order_relaxed);
    while (state != kDone && !m_state.compare_exchange_weak(state, kStopRequested, std::memory_order_relaxed)) {
    }
}

void CJobProgress::InitPairs(int n)
{
    m_pairCount.store(n > 1 ? (n - 1) * n / 2 : 0, std::memory_order_relaxed);
    m_pairsDone.store(0, std::memory_order_relaxed);
    m_fraction.store(0.0, std::memory_order_relaxed);
}

void CJobProgress::AddPairsDone(int k)
{
    m_pairsDone.fetch_add(k, std::memory_order_relaxed);
    UpdatePairFraction();
}

void CJobProgress::SetPairProgress(int n, int i, int step)
{
    const int count = n > 1 ? n * (n - 1) / 2 : 0;
    // The sum over t < i of (n - t - 1), in closed form.
    const long long rows = static_cast<long long>(i) * (n - 1) - static_cast<long long>(i) * (i - 1) / 2;
    const int done = static_cast<int>(rows + step - i);
    m_pairCount.store(count, std::memory_order_relaxed);
    m_pairsDone.store(done, std::memory_order_relaxed);
    UpdatePairFraction();
}

void CJobProgress::UpdatePairFraction()
{
    m_fraction.store(Ratio(GetPairsDone(), GetPairCount()), std::memory_order_relaxed);
}

void CJobProgress::EndPhase()
{
    SetState(kDone);
    m_done.store(true, std::memory_order_release);
}

#include "Clock.h"

#include <chrono>
#include <thread>

int64_t MonotonicMilliseconds()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

uint32_t GetTickCount()
{
    return uint32_t(MonotonicMilliseconds());
}

void Sleep(uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

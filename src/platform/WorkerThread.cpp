#include "WorkerThread.h"

#include <system_error>

CWorkerThread::~CWorkerThread()
{
    Join();
}

bool CWorkerThread::Start(Procedure proc)
{
    if (thread.joinable()) {
        if (IsActive())
            return false;
        thread.join();
    }
    exitCode.store(STILL_ACTIVE, std::memory_order_release);
    try {
        thread = std::thread([this, p = std::move(proc)]() {
            unsigned code = 1;
            try {
                code = p ? p() : 0;
            } catch (...) {
                code = 1;
            }
            if (code == STILL_ACTIVE)
                code = 1;
            exitCode.store(code, std::memory_order_release);
        });
    } catch (const std::system_error&) {
        exitCode.store(1, std::memory_order_release);
        return false;
    }
    return true;
}

void CWorkerThread::Join()
{
    if (thread.joinable())
        thread.join();
}

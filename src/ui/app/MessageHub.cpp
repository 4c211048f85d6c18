#include "MessageHub.h"

#include "WorkerThread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>

namespace {

// Touched on the user-interface thread only.
std::set<CMessageTarget*>& LiveTargets()
{
    static std::set<CMessageTarget*> targets;
    return targets;
}

CMessageTarget*& MainTarget()
{
    static CMessageTarget* target = nullptr;
    return target;
}

std::intptr_t Deliver(HubTarget target, unsigned message, std::uintptr_t wParam, std::intptr_t lParam)
{
    CMessageTarget* receiver = target ? static_cast<CMessageTarget*>(target) : MainTarget();
    if (!receiver || !LiveTargets().count(receiver))
        return 0;
    return receiver->OnHubMessage(message, wParam, lParam);
}

// The result of a worker's send, handed over under a lock.
struct SendAnswer {
    std::mutex mutex;
    std::condition_variable changed;
    bool ready = false;
    std::intptr_t value = 0;
};

// Held by the queued call; when the last copy goes, the waiting worker is told.
struct SendNotifier {
    explicit SendNotifier(std::shared_ptr<SendAnswer> to) : answer(std::move(to)) {}
    ~SendNotifier()
    {
        {
            std::lock_guard<std::mutex> lock(answer->mutex);
            answer->value = value;
            answer->ready = true;
        }
        answer->changed.notify_all();
    }
    std::shared_ptr<SendAnswer> answer;
    std::intptr_t value = 0;
};

bool OnUiThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace

CMessageTarget::CMessageTarget()
{
    LiveTargets().insert(this);
}

CMessageTarget::~CMessageTarget()
{
    LiveTargets().erase(this);
    if (MainTarget() == this)
        MainTarget() = nullptr;
}

void SetHubMainTarget(CMessageTarget* mainTarget)
{
    MainTarget() = mainTarget;
}

void InstallMessageHub(CMessageTarget* mainTarget)
{
    MainTarget() = mainTarget;
    SetHubDispatcher(
        [](HubTarget target, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) -> std::intptr_t {
            QCoreApplication* app = QCoreApplication::instance();
            if (!app)
                return 0;
            if (OnUiThread())
                return Deliver(target, message, wParam, lParam);
            // The call is queued with copies of its arguments; the worker
            // waits on a lock of its own (one the sanitizers see), which the
            // call releases when it has run, or when it is discarded unrun.
            auto answer = std::make_shared<SendAnswer>();
            auto notifier = std::make_shared<SendNotifier>(answer);
            if (!QMetaObject::invokeMethod(
                    app, [notifier, target, message, wParam, lParam] {
                        notifier->value = Deliver(target, message, wParam, lParam);
                    },
                    Qt::QueuedConnection))
                return 0;
            notifier.reset();
            std::unique_lock<std::mutex> lock(answer->mutex);
            answer->changed.wait(lock, [&] { return answer->ready; });
            return answer->value;
        },
        [](HubTarget target, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
            QCoreApplication* app = QCoreApplication::instance();
            if (!app)
                return false;
            return QMetaObject::invokeMethod(
                app, [=] { Deliver(target, message, wParam, lParam); }, Qt::QueuedConnection);
        });
}

void WaitForWorker(CWorkerThread& worker)
{
    while (worker.IsActive()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (worker.IsActive())
            QThread::msleep(2);
    }
    worker.Join();
}

#include "MessageHub.h"

#include "WorkerThread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

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
            std::intptr_t result = 0;
            QMetaObject::invokeMethod(
                app, [&] { result = Deliver(target, message, wParam, lParam); }, Qt::BlockingQueuedConnection);
            return result;
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

#include "MessageHub.h"

#include "WorkerThread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <QAction>

#include <condition_variable>
#include <deque>
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

    void Give(std::intptr_t result)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            value = result;
            ready = true;
        }
        changed.notify_all();
    }
};

// A worker's message waiting for the user-interface thread.
struct PendingCall {
    HubTarget target;
    unsigned message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    std::shared_ptr<SendAnswer> answer; // null for a post
};

// Lives on the user-interface thread. Workers queue their calls under a lock
// of our own (one the sanitizers see) and trigger its action through a queued
// call that Qt makes by name; the action runs every waiting call, oldest
// first. Nothing of a call crosses through Qt's event queue, whose locks the
// sanitizers do not see, and no event or functor of ours is made on a worker.
class CHubReceiver : public QObject {
public:
    explicit CHubReceiver(QObject* parent) : QObject(parent), trigger(new QAction(this))
    {
        QObject::connect(trigger, &QAction::triggered, this, [] { RunWaitingCalls(); });
    }
    ~CHubReceiver() override;

    static bool Queue(PendingCall call);

private:
    static void RunWaitingCalls();
    QAction* trigger;
};

std::mutex& QueueMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Both under QueueMutex.
CHubReceiver*& Receiver()
{
    static CHubReceiver* receiver = nullptr;
    return receiver;
}

std::deque<PendingCall>& Calls()
{
    static std::deque<PendingCall> calls;
    return calls;
}

bool CHubReceiver::Queue(PendingCall call)
{
    std::lock_guard<std::mutex> lock(QueueMutex());
    CHubReceiver* receiver = Receiver();
    if (!receiver)
        return false;
    Calls().push_back(std::move(call));
    return QMetaObject::invokeMethod(receiver->trigger, "trigger", Qt::QueuedConnection);
}

void CHubReceiver::RunWaitingCalls()
{
    for (;;) {
        PendingCall call;
        {
            std::lock_guard<std::mutex> lock(QueueMutex());
            if (Calls().empty())
                return;
            call = std::move(Calls().front());
            Calls().pop_front();
        }
        const std::intptr_t result = Deliver(call.target, call.message, call.wParam, call.lParam);
        if (call.answer)
            call.answer->Give(result);
    }
}

// Calls left when the application goes are dropped; their senders get 0.
CHubReceiver::~CHubReceiver()
{
    std::deque<PendingCall> left;
    {
        std::lock_guard<std::mutex> lock(QueueMutex());
        if (Receiver() == this)
            Receiver() = nullptr;
        left.swap(Calls());
    }
    for (PendingCall& call : left)
        if (call.answer)
            call.answer->Give(0);
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
    if (QCoreApplication* app = QCoreApplication::instance()) {
        std::lock_guard<std::mutex> lock(QueueMutex());
        if (!Receiver())
            Receiver() = new CHubReceiver(app);
    }
    SetHubDispatcher(
        [](HubTarget target, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) -> std::intptr_t {
            QCoreApplication* app = QCoreApplication::instance();
            if (!app)
                return 0;
            if (OnUiThread())
                return Deliver(target, message, wParam, lParam);
            auto answer = std::make_shared<SendAnswer>();
            if (!CHubReceiver::Queue({target, message, wParam, lParam, answer}))
                return 0;
            std::unique_lock<std::mutex> lock(answer->mutex);
            answer->changed.wait(lock, [&] { return answer->ready; });
            return answer->value;
        },
        [](HubTarget target, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
            if (!QCoreApplication::instance())
                return false;
            return CHubReceiver::Queue({target, message, wParam, lParam, nullptr});
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

// The hub across threads: a worker's posts arrive in order on the
// user-interface thread, and its send returns what the handler computed
// there, while the user-interface thread keeps processing events.
#include "MessageHub.h"
#include "WorkerThread.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

class Recorder : public CMessageTarget {
public:
    std::intptr_t OnHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override
    {
        onUiThread = onUiThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        received.push_back({message, wParam});
        return lParam * 2 + std::intptr_t(received.size());
    }
    std::vector<std::pair<unsigned, std::uintptr_t>> received;
    bool onUiThread = true;
};

TEST(Hub, AWorkersSendReturnsFromTheUiThreadAfterItsPostsInOrder)
{
    Recorder main;
    Recorder dialog;
    InstallMessageHub(&main);

    // On the user-interface thread a send runs at once.
    EXPECT_EQ(SendHubMessage(UM_REFRESH_IMAGES, 0, 10), 21);
    ASSERT_EQ(main.received.size(), 1u);

    constexpr int kPosts = 200;
    std::intptr_t sent = -1;
    CWorkerThread worker;
    ASSERT_TRUE(worker.Start([&] {
        for (int i = 0; i < kPosts; ++i)
            PostHubMessage(UM_STEP_DONE, std::uintptr_t(i), 0, dialog.AsHubTarget());
        sent = SendHubMessage(UM_REFRESH_POINT_SETS, 7, 100);
        PostHubMessage(UM_STEP_FAILED, 0, 0, dialog.AsHubTarget());
        return 0u;
    }));
    WaitForWorker(worker);
    QCoreApplication::processEvents();

    EXPECT_EQ(sent, 100 * 2 + 2);
    ASSERT_EQ(main.received.size(), 2u);
    EXPECT_EQ(main.received[1], std::make_pair(unsigned(UM_REFRESH_POINT_SETS), std::uintptr_t(7)));
    ASSERT_EQ(dialog.received.size(), size_t(kPosts + 1));
    for (int i = 0; i < kPosts; ++i)
        EXPECT_EQ(dialog.received[size_t(i)], std::make_pair(unsigned(UM_STEP_DONE), std::uintptr_t(i)));
    EXPECT_EQ(dialog.received.back().first, unsigned(UM_STEP_FAILED));
    EXPECT_TRUE(main.onUiThread && dialog.onUiThread);

    // A message for a receiver that has gone is dropped.
    {
        Recorder gone;
        HubTarget target = gone.AsHubTarget();
        PostHubMessage(UM_STEP_DONE, 0, 0, target);
    }
    QCoreApplication::processEvents();
    SetHubDispatcher(nullptr, nullptr);
    EXPECT_EQ(SendHubMessage(UM_REFRESH_IMAGES), 0);
    EXPECT_FALSE(PostHubMessage(UM_REFRESH_IMAGES));
}

} // namespace

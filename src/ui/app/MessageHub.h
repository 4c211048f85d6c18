// The user-interface side of the hub (Hub.h): receivers of hub messages and
// the dispatcher that runs them on the user-interface thread.
#pragma once

#include "Hub.h"

#include <cstdint>

class CWorkerThread;

// A window that receives hub messages. Receivers live on the user-interface
// thread; a message for a receiver that has gone is dropped.
class CMessageTarget {
public:
    CMessageTarget();
    virtual ~CMessageTarget();
    CMessageTarget(const CMessageTarget&) = delete;
    CMessageTarget& operator=(const CMessageTarget&) = delete;

    // The message's effect; the result goes back to the sender.
    virtual std::intptr_t OnHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam)
    {
        (void)message, (void)wParam, (void)lParam;
        return 0;
    }
    HubTarget AsHubTarget() { return static_cast<CMessageTarget*>(this); }
};

// Installs the dispatcher; messages without a target go to mainTarget
// (null: they are dropped). Call on the user-interface thread after the
// QApplication exists.
void InstallMessageHub(CMessageTarget* mainTarget);
void SetHubMainTarget(CMessageTarget* mainTarget);

// Waits for a worker that may send to the hub: processes events until the
// worker's done flag is set, then joins it.
void WaitForWorker(CWorkerThread& worker);

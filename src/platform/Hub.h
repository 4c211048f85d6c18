// The hub of user messages by which windows, dialogs and workers tell each
// other about changed data. The user interface installs the dispatcher; with
// none installed a send returns 0 and a post is dropped.
#pragma once

#include <cstdint>
#include <functional>

// Message numbers of the hub.
enum HubMessage : unsigned {
    UM_END_INTERIOR_ORIENTATION = 0x40A, // to an image frame: the results dialog closed
    UM_STATUS_TEXT = 0x40F,              // lParam: NUL-terminated text for status pane 0
    UM_REFRESH_IMAGES = 0x441,           // rebuild the tree's image items
    UM_REFRESH_IMAGES_AND_LIST = 0x442,  // as 0x441, then 0x443 to the right pane
    UM_REFRESH_LIST = 0x443,             // to the right pane: refill from the project
    UM_DELETE_IMAGES = 0x444,            // lParam: list of image records to delete
    UM_IMAGE_QUALITY = 0x445,            // wParam: quality entry of the combo
    UM_REDRAW_IMAGE_VIEWS = 0x446,       // redraw every image view of the active project
    UM_REDRAW_IMAGE = 0x447,             // lParam: image record whose view is redrawn
    UM_STEP_FAILED = 0x448,              // to a dialog: a worker step failed or was stopped
    UM_STEP_DONE = 0x449,                // to a dialog: a worker step succeeded
    UM_REFRESH_POINT_SETS = 0x44B,       // rebuild the "3D Data" branch
    UM_REFRESH_PROJECT_SCALEBARS = 0x44C,
    UM_REFRESH_DATABASE_SCALEBARS = 0x44D,
    UM_REFRESH_SCALEBAR_LIST = 0x44E,
    UM_RO_IMAGE_CHANGED = 0x450,         // the relative orientation dialog follows an image change
    UM_RO_MEASURED = 0x451,              // the relative orientation dialog refreshes its points
    UM_IMAGE_CREATED = 0x452,            // lParam: the new image record
    UM_RECREATE_GL_CONTEXT = 0x453,
    UM_RELABEL_PICKED = 0x454,           // wParam 1854: relabel the picked points
};

// Where a message goes: null is the main frame; otherwise a receiver of the
// user interface (a dialog or frame that handed out its address).
using HubTarget = void*;

using HubSendFunction = std::function<std::intptr_t(HubTarget, unsigned, std::uintptr_t, std::intptr_t)>;
using HubPostFunction = std::function<bool(HubTarget, unsigned, std::uintptr_t, std::intptr_t)>;

// Runs the receiver's handler and returns its result; on a worker thread the
// handler runs on the user-interface thread while the caller waits.
std::intptr_t SendHubMessage(unsigned message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0,
                             HubTarget target = nullptr);
// Queues the message; posts of one thread arrive in their order. False when
// no dispatcher is installed.
bool PostHubMessage(unsigned message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0,
                    HubTarget target = nullptr);

// Installs the dispatcher (null functions: none).
void SetHubDispatcher(HubSendFunction send, HubPostFunction post);

#include "Hub.h"

#include <mutex>

namespace {

struct Dispatcher {
    std::mutex lock;
    HubSendFunction send;
    HubPostFunction post;
};

Dispatcher& TheDispatcher()
{
    static Dispatcher d;
    return d;
}

} // namespace

std::intptr_t SendHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam, HubTarget target)
{
    HubSendFunction send;
    {
        std::lock_guard<std::mutex> g(TheDispatcher().lock);
        send = TheDispatcher().send;
    }
    return send ? send(target, message, wParam, lParam) : 0;
}

bool PostHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam, HubTarget target)
{
    HubPostFunction post;
    {
        std::lock_guard<std::mutex> g(TheDispatcher().lock);
        post = TheDispatcher().post;
    }
    return post ? post(target, message, wParam, lParam) : false;
}

void SetHubDispatcher(HubSendFunction send, HubPostFunction post)
{
    std::lock_guard<std::mutex> g(TheDispatcher().lock);
    TheDispatcher().send = std::move(send);
    TheDispatcher().post = std::move(post);
}

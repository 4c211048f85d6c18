#include "Message.h"

#include <cstdio>
#include <mutex>

namespace {

std::mutex& Lock()
{
    static std::mutex m;
    return m;
}

MessageBoxHandler& BoxHandler()
{
    static MessageBoxHandler h;
    return h;
}

StatusTextHandler& StatusHandler()
{
    static StatusTextHandler h;
    return h;
}

std::vector<CapturedMessage>& Captured()
{
    static std::vector<CapturedMessage> v;
    return v;
}

std::string& LastStatus()
{
    static std::string s;
    return s;
}

} // namespace

int DefaultMessageAnswer(unsigned type)
{
    const unsigned buttons = type & MB_TYPEMASK;
    const unsigned def = type & MB_DEFMASK;
    switch (buttons) {
    case MB_OKCANCEL:
        return def == MB_DEFBUTTON2 ? IDCANCEL : IDOK;
    case MB_YESNO:
        return IDNO;
    case MB_YESNOCANCEL:
        return def == MB_DEFBUTTON3 ? IDCANCEL : IDNO;
    default:
        return IDOK;
    }
}

int AfxMessageBox(const char* text, unsigned type, const char* caption)
{
    CapturedMessage m;
    m.text = text ? text : "";
    m.caption = caption ? caption : "Kestrelon";
    m.type = type;
    MessageBoxHandler handler;
    {
        std::lock_guard<std::mutex> g(Lock());
        handler = BoxHandler();
    }
    m.answer = handler ? handler(m.text.c_str(), m.caption.c_str(), type) : DefaultMessageAnswer(type);
    if (!handler)
        std::fprintf(stderr, "[message] %s\n", m.text.c_str());
    std::lock_guard<std::mutex> g(Lock());
    Captured().push_back(m);
    return m.answer;
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler)
{
    std::lock_guard<std::mutex> g(Lock());
    MessageBoxHandler old = std::move(BoxHandler());
    BoxHandler() = std::move(handler);
    return old;
}

std::vector<CapturedMessage> TakeCapturedMessages()
{
    std::lock_guard<std::mutex> g(Lock());
    std::vector<CapturedMessage> out;
    out.swap(Captured());
    return out;
}

void SetStatusText(const char* text)
{
    StatusTextHandler handler;
    {
        std::lock_guard<std::mutex> g(Lock());
        LastStatus() = text ? text : "";
        handler = StatusHandler();
    }
    if (handler)
        handler(text ? text : "");
}

StatusTextHandler SetStatusTextHandler(StatusTextHandler handler)
{
    std::lock_guard<std::mutex> g(Lock());
    StatusTextHandler old = std::move(StatusHandler());
    StatusHandler() = std::move(handler);
    return old;
}

std::string GetLastStatusText()
{
    std::lock_guard<std::mutex> g(Lock());
    return LastStatus();
}

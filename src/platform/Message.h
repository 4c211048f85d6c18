// Message boxes and the status line, reachable from code without a user
// interface. The Qt shell installs handlers; without them, messages are
// captured (tests read them) and questions get their default answer.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Button sets, icons and default buttons of a message box.
enum : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4,
    MB_ICONERROR = 0x10,
    MB_ICONSTOP = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_DEFBUTTON1 = 0x000,
    MB_DEFBUTTON2 = 0x100,
    MB_DEFBUTTON3 = 0x200,
    MB_TYPEMASK = 0x0F,
    MB_ICONMASK = 0xF0,
    MB_DEFMASK = 0xF00
};

// Answers of a message box.
enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

struct CapturedMessage {
    std::string text;
    std::string caption;
    unsigned type = 0;
    int answer = 0;
};

using MessageBoxHandler = std::function<int(const char* text, const char* caption, unsigned type)>;
using StatusTextHandler = std::function<void(const char* text)>;

// Shows a message box and returns the button chosen. Safe on any thread.
int AfxMessageBox(const char* text, unsigned type = MB_OK, const char* caption = nullptr);

// The answer a box of this type gets when nobody is there to click: its
// default button, and No for a question that names none.
int DefaultMessageAnswer(unsigned type);

// Installs the handler that shows boxes (null: capture only). Returns the old one.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// Every box shown so far (with or without a handler), oldest first; taking clears them.
std::vector<CapturedMessage> TakeCapturedMessages();

// Status-line text.
void SetStatusText(const char* text);
StatusTextHandler SetStatusTextHandler(StatusTextHandler handler);
std::string GetLastStatusText();

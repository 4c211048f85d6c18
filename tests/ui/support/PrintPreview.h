// Drives the print preview that a command opens.
#pragma once

#include <functional>

class QAction;
class QPrintPreviewDialog;
class QPrintPreviewWidget;

// Triggers the entry and, once its preview dialog shows and has drawn its
// pages, runs the steps on it and closes it with Escape. A dialog that does
// not show within 10 s is closed. True when the steps ran.
bool OnPrintPreview(QAction* entry, const std::function<void(QPrintPreviewDialog&, QPrintPreviewWidget*)>& steps);

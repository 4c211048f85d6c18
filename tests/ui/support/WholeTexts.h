// What a user cannot read whole in a window: texts of labels, buttons,
// group boxes, tabs, headers and cells cut by their boxes, numbers cut in
// their fields, and controls that lie over one another. Each entry names
// the widget and its text.
#pragma once

#include <string>
#include <vector>

class QString;
class QWidget;

std::vector<std::string> CutTexts(const QWidget* window);
std::vector<std::string> OverlappingControls(const QWidget* window);

// Adds a failure for every text the window cuts and every control over
// another, then saves the window's picture as the file (a name starting
// with "/") in the test-output folder.
void ExpectWholeAndSave(QWidget& window, const QString& file);

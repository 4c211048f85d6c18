// What a user cannot read whole in a window: texts of labels, buttons,
// group boxes, tabs, headers and cells cut by their boxes, numbers cut in
// their fields, and controls that lie over one another. Each entry names
// the widget and its text.
#pragma once

#include <string>
#include <vector>

class QWidget;

std::vector<std::string> CutTexts(const QWidget* window);
std::vector<std::string> OverlappingControls(const QWidget* window);

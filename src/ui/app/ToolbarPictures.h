// The pictures of the main toolbar's buttons: the desktop's icon theme where
// it has one for the command, else a picture drawn here.
#pragma once

#include <QIcon>

// The icon-theme name of the command's picture, or null when themes have none.
const char* ToolbarThemeName(int id);
// Our own drawing of the command's picture (16 and 32 pixels); a grey tile
// for an id without one.
QIcon DrawnToolbarPicture(int id);
// The theme's picture where the theme has one, else the drawn one.
QIcon ToolbarPicture(int id);

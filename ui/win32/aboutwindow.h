// The About window: the program's name, version and credits, and "Close".
#pragma once

#include "tablewindow.h"

namespace ui::win32 {

// Shows the About window modally over `owner`, built afresh from its table, and
// returns when it is closed.
void showAbout(HWND owner);

} // namespace ui::win32

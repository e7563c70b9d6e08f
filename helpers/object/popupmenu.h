#pragma once

// What every popup menu of the helper object shares: string items that carry command numbers,
// and tracking, answered by a person or by the test surface and logged either way.

#include "automation/olewindow.h"

#include <QString>

#include <cstdint>

class QAction;
class QMenu;

namespace tavrelo::helpers {

namespace popupmenu {

// Appends a string item and returns it (null without a menu). An "&" in the text marks a
// mnemonic, as in the platform's menus.
QAction *appendItem(QMenu *menu, const QString &text, std::int32_t command, bool enabled, bool checked);

// Shows the menu with its top-left corner at the screen position (x, y), owned by `owner`, and
// waits until it closes. Returns the command number of the chosen item, 0 when it was dismissed.
// With TAVRELO_AUTOMATION set nothing is shown and the next menu answer is taken; every menu is
// logged to TAVRELO_AUTOMATION_LOG with its items (the menu's default action as the default item).
std::int32_t track(QMenu *menu, HWND owner, std::int32_t x, std::int32_t y);

} // namespace popupmenu

} // namespace tavrelo::helpers

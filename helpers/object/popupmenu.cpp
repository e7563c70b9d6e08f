// The popup menu that a page builds item by item, shows at a screen position and reads the
// chosen command number back from, synchronously.
//
// A menu handle is a 32-bit number, as the pages store it. Handles name QMenu objects through a
// process-wide table, since a page may pass a handle from one helper object to another. Numbers
// are handed out in rising order from kFirstHandle and never given twice, so a handle kept after
// its menu was destroyed names nothing and every call on it does nothing. The table is used on
// the user-interface thread only, where every helper object runs.

#include "popupmenu.h"

#include "abbreviation.h"
#include "quillet.h"

#include "testsurface/uirequests.h"

#include <QAction>
#include <QApplication>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QMenu>
#include <QPointer>
#include <QWidget>

namespace tavrelo::helpers {

using namespace tavrelo::testsurface;

namespace {

// Path items are shortened to this many bytes, keeping the file name whole.
constexpr int kPathItemLimit = 50;
constexpr std::uint32_t kFirstHandle = 0x00010001;

struct MenuTable {
    QHash<std::int32_t, QPointer<QMenu>> menus;
    std::uint32_t next = kFirstHandle;
};

MenuTable &table()
{
    static MenuTable instance;
    return instance;
}

QMenu *menuOf(std::int32_t handle)
{
    if (handle == 0)
        return nullptr;
    const auto found = table().menus.constFind(handle);
    return found == table().menus.constEnd() ? nullptr : found->data();
}

std::int32_t addMenu(QMenu *menu)
{
    MenuTable &t = table();
    if (t.next == 0) // after 2^32 menus; zero stays "no menu"
        t.next = kFirstHandle;
    const auto handle = static_cast<std::int32_t>(t.next++);
    t.menus.insert(handle, menu);
    return handle;
}

int commandOf(const QAction *action) { return action->data().toInt(); }

// The first item with this command number, as the platform's by-command lookup finds it.
QAction *itemOf(QMenu *menu, std::int32_t command)
{
    if (!menu)
        return nullptr;
    const QList<QAction *> actions = menu->actions();
    for (QAction *action : actions) {
        if (!action->isSeparator() && commandOf(action) == command)
            return action;
    }
    return nullptr;
}

void setChecked(QAction *action, bool checked)
{
    // Only a checked item shows a mark; an unchecked one looks like a plain item.
    action->setCheckable(checked);
    action->setChecked(checked);
}

QJsonArray describeItems(const QMenu *menu)
{
    QJsonArray items;
    const QList<QAction *> actions = menu->actions();
    for (const QAction *action : actions) {
        if (action->isSeparator()) {
            items.append(QJsonObject{{QStringLiteral("separator"), true}});
            continue;
        }
        items.append(QJsonObject{{QStringLiteral("id"), commandOf(action)},
                                 {QStringLiteral("text"), QString(action->text()).replace(QStringLiteral("&&"), QStringLiteral("&"))},
                                 {QStringLiteral("enabled"), action->isEnabled()},
                                 {QStringLiteral("checked"), action->isChecked()},
                                 {QStringLiteral("default"), action == menu->defaultAction()}});
    }
    return items;
}

// The test surface's answer stands only when it names an enabled item, as only such an item can
// be chosen; anything else counts as a dismissed menu.
std::int32_t scriptedChoice(QMenu *menu)
{
    const std::optional<QJsonValue> answer = takeScriptedAnswer(QStringLiteral("menu"));
    if (!answer || !answer->isDouble())
        return 0;
    const double number = answer->toDouble();
    const auto command = static_cast<std::int32_t>(answer->toInt());
    if (number != command || command == 0)
        return 0;
    const QAction *item = itemOf(menu, command);
    return item && item->isEnabled() ? command : 0;
}

std::int32_t shownChoice(QMenu *menu, QWidget *owner, const QPoint &position)
{
    // The owner window becomes the menu's parent, which places the popup on its screen. It stays
    // a popup window of its own.
    if (menu->parentWidget() != owner)
        menu->setParent(owner, menu->windowFlags());
    QPointer<QMenu> guard(menu);
    QAction *chosen = menu->exec(position);
    // The menu may have been destroyed by work done while it was open.
    return guard && chosen && guard->actions().contains(chosen) ? commandOf(chosen) : 0;
}

} // namespace

namespace popupmenu {

QAction *appendItem(QMenu *menu, const QString &text, std::int32_t command, bool enabled, bool checked)
{
    if (!menu)
        return nullptr;
    QAction *action = menu->addAction(text.isNull() ? QString() : text);
    action->setData(command);
    action->setEnabled(enabled);
    setChecked(action, checked);
    return action;
}

std::int32_t track(QMenu *menu, HWND owner, std::int32_t x, std::int32_t y)
{
    const QJsonArray items = describeItems(menu);
    const std::int32_t chosen = uiIsScripted() ? scriptedChoice(menu) : shownChoice(menu, owner, QPoint(x, y));
    logUiRequest(QJsonObject{{QStringLiteral("kind"), QStringLiteral("menu")},
                             {QStringLiteral("items"), items},
                             {QStringLiteral("x"), x},
                             {QStringLiteral("y"), y},
                             {QStringLiteral("answer"), chosen}});
    return chosen;
}

} // namespace popupmenu

HRESULT Quillet::get_PopupMenuHandle(std::int32_t *handle)
{
    if (!handle)
        return E_POINTER;
    *handle = m_popupMenu;
    return S_OK;
}

HRESULT Quillet::put_PopupMenuHandle(std::int32_t handle)
{
    m_popupMenu = handle;
    return S_OK;
}

HRESULT Quillet::PopupMenuCreate()
{
    // The previous current menu is left alone: its page destroys it. Without a widget
    // application there is no menu to make, and the object has no current menu.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
        m_popupMenu = 0;
        return S_OK;
    }
    m_popupMenu = addMenu(new QMenu);
    return S_OK;
}

HRESULT Quillet::PopupMenuAppendItem(const QString &text, std::int32_t index, std::int32_t enabled,
                                     std::int32_t checked)
{
    popupmenu::appendItem(menuOf(m_popupMenu), text, index, enabled != 0, checked != 0);
    return S_OK;
}

HRESULT Quillet::PopupMenuAppendPathItem(const QString &text, std::int32_t index, std::int32_t enabled,
                                         std::int32_t checked)
{
    // A path is shown as it is: an "&" in it ("R&D notes.t-q") is no mnemonic.
    QString shown = abbreviateFileName(text, kPathItemLimit, true);
    popupmenu::appendItem(menuOf(m_popupMenu), shown.replace(u'&', QStringLiteral("&&")), index, enabled != 0,
                          checked != 0);
    return S_OK;
}

HRESULT Quillet::PopupMenuAppendSeparator()
{
    if (QMenu *menu = menuOf(m_popupMenu))
        menu->addSeparator()->setData(0);
    return S_OK;
}

HRESULT Quillet::PopupMenuEnableItem(std::int32_t index, std::int32_t enable)
{
    if (QAction *item = itemOf(menuOf(m_popupMenu), index))
        item->setEnabled(enable != 0);
    return S_OK;
}

HRESULT Quillet::PopupMenuCheckItem(std::int32_t index, std::int32_t check)
{
    if (QAction *item = itemOf(menuOf(m_popupMenu), index))
        setChecked(item, check != 0);
    return S_OK;
}

HRESULT Quillet::PopupMenuTrack(std::int32_t x, std::int32_t y, const QString &windowClass, std::int32_t *selection)
{
    if (!selection)
        return E_POINTER;
    *selection = 0;
    HWND owner = nullptr;
    if (FAILED(findHostWindow(windowClass, &owner)) || !owner)
        return S_OK;
    QMenu *menu = menuOf(m_popupMenu);
    if (!menu)
        return S_OK;

    *selection = popupmenu::track(menu, owner, x, y);
    return S_OK;
}

HRESULT Quillet::PopupMenuDestroy(std::int32_t menu)
{
    // 0 names the current menu. Destroying the current menu also clears the current handle, so a
    // page that appends without creating a new menu first cannot reach a stale number.
    const std::int32_t handle = menu != 0 ? menu : m_popupMenu;
    if (handle == 0)
        return S_OK;
    if (handle == m_popupMenu)
        m_popupMenu = 0;
    const QPointer<QMenu> destroyed = table().menus.take(handle);
    if (destroyed) {
        // A menu still open (destroyed from work done while it is tracked) goes once its event
        // loop has returned.
        if (destroyed->isVisible())
            destroyed->deleteLater();
        else
            delete destroyed.data();
    }
    return S_OK;
}

} // namespace tavrelo::helpers

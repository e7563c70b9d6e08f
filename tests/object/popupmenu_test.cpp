// Popup menus: built item by item, tracked through the test surface and as a real QMenu on the
// offscreen platform, destroyed by handle; and the argument defaults of the late-bound members.

#include "helperfixture.h"
#include "support/mailtest.h"
#include "support/testsite.h"

#include "object/quillet.h"

#include <QAction>
#include <QJsonArray>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace {

QJsonObject item(int id, const char *text, bool enabled = true, bool checked = false)
{
    return {{QStringLiteral("id"), id},
            {QStringLiteral("text"), QString::fromUtf8(text)},
            {QStringLiteral("enabled"), enabled},
            {QStringLiteral("checked"), checked},
            {QStringLiteral("default"), false}};
}
QJsonObject separator() { return {{QStringLiteral("separator"), true}}; }
QJsonObject menuAnswer(int command) { return {{QStringLiteral("kind"), QStringLiteral("menu")}, {QStringLiteral("answer"), command}}; }

QList<QMenu *> menus(bool visibleOnly)
{
    QList<QMenu *> found;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (auto *menu = qobject_cast<QMenu *>(window); menu && (!visibleOnly || menu->isVisible()))
            found << menu;
    }
    return found;
}

class PopupMenuTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureWidgetApplication(); }

    void SetUp() override
    {
        m_helper->SetSite(&m_site);
    }
    void TearDown() override
    {
        m_helper->PopupMenuDestroy(0);
        m_helper->SetSite(nullptr);
    }

    std::int32_t handle(Quillet *helper = nullptr) const
    {
        std::int32_t value = -1;
        EXPECT_EQ((helper ? helper : m_helper.get())->get_PopupMenuHandle(&value), S_OK);
        return value;
    }
    std::int32_t track(int x = 10, int y = 20, Quillet *helper = nullptr)
    {
        std::int32_t chosen = -1;
        EXPECT_EQ((helper ? helper : m_helper.get())->PopupMenuTrack(x, y, QStringLiteral("TavTracker"), &chosen), S_OK);
        return chosen;
    }
    // Items 1..n named "Item k".
    void build(int count)
    {
        ASSERT_EQ(m_helper->PopupMenuCreate(), S_OK);
        for (int k = 1; k <= count; ++k)
            ASSERT_EQ(m_helper->PopupMenuAppendItem(QStringLiteral("Item %1").arg(k), k, 1, 0), S_OK);
    }
    static QJsonArray loggedItems(const Surface &surface)
    {
        const QList<QJsonObject> log = surface.log();
        return log.isEmpty() ? QJsonArray() : log.last().value(QStringLiteral("items")).toArray();
    }

    QWidget m_owner;
    TestSite m_site{true, &m_owner};
    ComPtr<Quillet> m_helper = Quillet::create();
};

} // namespace

TEST_F(PopupMenuTest, aScriptedMenuReturnsTheChosenNumberAndIsLogged)
{
    Surface surface;
    build(4);
    surface.answers({menuAnswer(3), menuAnswer(0), menuAnswer(9)});
    EXPECT_EQ(track(120, 45), 3);
    EXPECT_EQ(track(), 0) << "dismissed";
    EXPECT_EQ(track(), 0) << "a number no item has counts as dismissed";
    EXPECT_EQ(track(), 0) << "no answer left";

    const QList<QJsonObject> log = surface.log();
    ASSERT_EQ(log.size(), 4);
    const QJsonObject expected{
        {QStringLiteral("kind"), QStringLiteral("menu")},
        {QStringLiteral("items"), QJsonArray{item(1, "Item 1"), item(2, "Item 2"), item(3, "Item 3"), item(4, "Item 4")}},
        {QStringLiteral("x"), 120},
        {QStringLiteral("y"), 45},
        {QStringLiteral("answer"), 3}};
    EXPECT_EQ(log[0], expected) << QJsonDocument(log[0]).toJson().toStdString();
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(log[i].value(QStringLiteral("answer")).toInt(-1), 0);
    EXPECT_EQ(log[1].value(QStringLiteral("x")).toInt(), 10);
}

TEST_F(PopupMenuTest, itemStatesAsBuiltAndAsChangedByNumber)
{
    Surface surface;
    ASSERT_EQ(m_helper->PopupMenuCreate(), S_OK);
    m_helper->PopupMenuAppendItem(QStringLiteral("&Name"), 1, 1, 1);
    m_helper->PopupMenuAppendItem(QStringLiteral("Date"), 2, 0, 0);
    m_helper->PopupMenuAppendItem(QString(), 3, 1, 0);
    m_helper->PopupMenuAppendSeparator();
    m_helper->PopupMenuAppendItem(QStringLiteral("Ascending"), 4, 1, 1);
    m_helper->PopupMenuAppendItem(QStringLiteral("Descending"), 5, 1, 0);
    surface.answers({menuAnswer(2), menuAnswer(2), menuAnswer(1)});
    EXPECT_EQ(track(), 0) << "a disabled item cannot be chosen";
    EXPECT_EQ(loggedItems(surface), (QJsonArray{item(1, "&Name", true, true), item(2, "Date", false), item(3, ""),
                                                separator(), item(4, "Ascending", true, true), item(5, "Descending")}));

    m_helper->PopupMenuEnableItem(2, 1);
    m_helper->PopupMenuEnableItem(1, 0);
    m_helper->PopupMenuCheckItem(1, 0);
    m_helper->PopupMenuCheckItem(2, 1);
    m_helper->PopupMenuCheckItem(4, 0);
    m_helper->PopupMenuCheckItem(5, 1);
    m_helper->PopupMenuEnableItem(7, 0); // no such item: nothing changes
    surface.answers({menuAnswer(2), menuAnswer(1)});
    EXPECT_EQ(track(), 2);
    EXPECT_EQ(loggedItems(surface), (QJsonArray{item(1, "&Name", false), item(2, "Date", true, true), item(3, ""),
                                                separator(), item(4, "Ascending"), item(5, "Descending", true, true)}));
    EXPECT_EQ(track(), 0) << "item 1 is disabled now";
}

TEST_F(PopupMenuTest, aPathItemShowsTheAbbreviatedPath)
{
    Surface surface;
    ASSERT_EQ(m_helper->PopupMenuCreate(), S_OK);
    m_helper->PopupMenuAppendPathItem(
        QStringLiteral("C:\\Documents and Settings\\user\\My Documents\\Collections\\Projects\\notes.t-q"), 1, 1, 0);
    m_helper->PopupMenuAppendPathItem(
        QStringLiteral("/home/alice/Documents/Collections/Research/2023/Projects/notes.t-q"), 2, 0, 1);
    m_helper->PopupMenuAppendPathItem(QStringLiteral("/home/alice/short.t-q"), 3, 1, 0);
    m_helper->PopupMenuAppendPathItem(QStringLiteral("/home/alice/R&D.t-q"), 4, 1, 0);
    track();
    EXPECT_EQ(loggedItems(surface),
              (QJsonArray{item(1, "C:\\Documents and Settings\\...\\Projects\\notes.t-q"),
                          item(2, "/home/.../Research/2023/Projects/notes.t-q", false, true),
                          item(3, "/home/alice/short.t-q"), item(4, "/home/alice/R&D.t-q")}));
    // The menu shows the "&" of a path as itself, not as a mnemonic.
    QStringList texts;
    for (const QMenu *menu : menus(false))
        for (const QAction *action : menu->actions())
            if (action->data().toInt() == 4)
                texts << action->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("/home/alice/R&&D.t-q"))) << texts.join(u'|').toStdString();
}

TEST_F(PopupMenuTest, aDestroyedMenuTakesNoItemsAndIsNeverTracked)
{
    Surface surface;
    const qsizetype before = menus(false).size();
    build(2);
    const std::int32_t destroyed = handle();
    ASSERT_NE(destroyed, 0);
    EXPECT_EQ(menus(false).size(), before + 1);
    ASSERT_EQ(m_helper->PopupMenuDestroy(0), S_OK);
    EXPECT_EQ(menus(false).size(), before) << "the QMenu is gone";
    EXPECT_EQ(handle(), 0) << "destroying the current menu clears the handle";
    EXPECT_EQ(m_helper->PopupMenuDestroy(0), S_OK) << "no current menu: nothing to do";

    surface.answers({menuAnswer(1), menuAnswer(1)});
    m_helper->PopupMenuAppendItem(QStringLiteral("Lost"), 1, 1, 0);
    m_helper->PopupMenuAppendSeparator();
    EXPECT_EQ(track(), 0);
    // The old number put back names nothing either.
    ASSERT_EQ(m_helper->put_PopupMenuHandle(destroyed), S_OK);
    m_helper->PopupMenuAppendItem(QStringLiteral("Lost"), 1, 1, 0);
    m_helper->PopupMenuCheckItem(1, 1);
    EXPECT_EQ(track(), 0);
    EXPECT_TRUE(surface.log().isEmpty());
    EXPECT_EQ(menus(false).size(), before);

    // A menu destroyed by its number while another is current leaves the current one alone.
    build(1);
    const std::int32_t first = handle();
    build(3);
    const std::int32_t second = handle();
    ASSERT_EQ(m_helper->PopupMenuDestroy(first), S_OK);
    EXPECT_EQ(handle(), second);
    surface.answers({menuAnswer(3)});
    EXPECT_EQ(track(), 3);
    ASSERT_EQ(surface.log().size(), 1);
    EXPECT_EQ(loggedItems(surface).size(), 3);
}

TEST_F(PopupMenuTest, theHandleIsANumberThatCanBeReadAndReplaced)
{
    Surface surface;
    EXPECT_EQ(handle(), 0) << "a new object has no menu";
    EXPECT_EQ(m_helper->get_PopupMenuHandle(nullptr), E_POINTER);
    std::int32_t chosen = -1;
    EXPECT_EQ(m_helper->PopupMenuTrack(0, 0, QStringLiteral("TavTracker"), nullptr), E_POINTER);
    EXPECT_EQ(m_helper->PopupMenuTrack(0, 0, QStringLiteral("TavTracker"), &chosen), S_OK);
    EXPECT_EQ(chosen, 0) << "no current menu";

    build(2);
    const std::int32_t first = handle();
    build(5);
    const std::int32_t second = handle();
    EXPECT_NE(first, 0);
    EXPECT_NE(second, 0);
    EXPECT_NE(first, second);

    // Creating did not destroy the first menu: put back, it is tracked with its own two items.
    ASSERT_EQ(m_helper->put_PopupMenuHandle(first), S_OK);
    EXPECT_EQ(handle(), first);
    surface.answers({menuAnswer(2), menuAnswer(5)});
    EXPECT_EQ(track(), 2);
    EXPECT_EQ(loggedItems(surface).size(), 2);
    EXPECT_EQ(track(), 0) << "the first menu has no item 5";

    // The number works from another helper object too, and putting a number destroys nothing.
    const ComPtr<Quillet> other = Quillet::create();
    other->SetSite(&m_site);
    ASSERT_EQ(other->put_PopupMenuHandle(second), S_OK);
    ASSERT_EQ(m_helper->put_PopupMenuHandle(12345), S_OK);
    EXPECT_EQ(handle(), 12345);
    surface.answers({menuAnswer(5)});
    EXPECT_EQ(track(0, 0, other.get()), 5);
    EXPECT_EQ(track(), 0) << "a number that names no menu";
    other->PopupMenuDestroy(0);
    other->SetSite(nullptr);
    m_helper->PopupMenuDestroy(first);
}

TEST_F(PopupMenuTest, withoutAnOwnerWindowNothingIsShownOrLogged)
{
    Surface surface;
    const ComPtr<Quillet> siteless = Quillet::create();
    ASSERT_EQ(siteless->PopupMenuCreate(), S_OK);
    siteless->PopupMenuAppendItem(QStringLiteral("One"), 1, 1, 0);
    surface.answers({menuAnswer(1)});
    std::int32_t chosen = -1;
    EXPECT_EQ(siteless->PopupMenuTrack(5, 5, QStringLiteral("NoWindowHasThisClass"), &chosen), S_OK);
    EXPECT_EQ(chosen, 0);
    EXPECT_EQ(siteless->PopupMenuTrack(5, 5, QString(), &chosen), S_OK);
    EXPECT_EQ(chosen, 0);
    EXPECT_TRUE(surface.log().isEmpty());

    // Found by its class name, the window owns the menu; the answer was still waiting.
    QWidget named;
    named.setProperty("tavreloWindowClass", QStringLiteral("Clipvane"));
    EXPECT_EQ(siteless->PopupMenuTrack(5, 5, QStringLiteral("clipvane"), &chosen), S_OK);
    EXPECT_EQ(chosen, 1);
    EXPECT_EQ(surface.log().size(), 1);
    siteless->PopupMenuDestroy(0);
}

// A person at a real QMenu: the poll finds the open menu, checks what it shows and answers it.
TEST_F(PopupMenuTest, aRealMenuIsShownAtThePositionAndAnswered)
{
    Surface surface(false);
    ASSERT_EQ(m_helper->PopupMenuCreate(), S_OK);
    m_helper->PopupMenuAppendItem(QStringLiteral("First"), 1, 1, 0);
    m_helper->PopupMenuAppendItem(QStringLiteral("Second"), 2, 0, 0);
    m_helper->PopupMenuAppendSeparator();
    m_helper->PopupMenuAppendItem(QStringLiteral("Third"), 3, 1, 1);

    // Runs `act` on the open menu once it shows; gives up (closing any popup) after 20 s.
    const auto whenShown = [](std::function<void(QMenu *)> act) {
        auto *poll = new QTimer;
        poll->setInterval(5);
        QObject::connect(poll, &QTimer::timeout, poll, [poll, act] {
            const QList<QMenu *> open = menus(true);
            if (open.isEmpty())
                return;
            poll->stop();
            poll->deleteLater();
            act(open.first());
        });
        poll->start();
        QTimer::singleShot(20000, poll, [poll] {
            if (QWidget *popup = QApplication::activePopupWidget())
                popup->close();
            poll->deleteLater();
        });
    };

    QStringList shown;
    QList<bool> enabled, checked;
    QPoint position;
    whenShown([&](QMenu *menu) {
        position = menu->pos();
        const QList<QAction *> actions = menu->actions();
        for (const QAction *action : actions) {
            shown << (action->isSeparator() ? QStringLiteral("-") : action->text());
            enabled << action->isEnabled();
            checked << (action->isCheckable() && action->isChecked());
        }
        menu->setActiveAction(actions.at(3));
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(menu, &enter);
    });
    EXPECT_EQ(track(40, 30), 3);
    EXPECT_EQ(shown, (QStringList{"First", "Second", "-", "Third"}));
    EXPECT_EQ(enabled, (QList<bool>{true, false, true, true}));
    EXPECT_EQ(checked, (QList<bool>{false, false, false, true}));
    EXPECT_EQ(position, QPoint(40, 30));

    // Escape dismisses it; the item states changed by number show in the next tracking.
    m_helper->PopupMenuEnableItem(2, 1);
    m_helper->PopupMenuCheckItem(3, 0);
    enabled.clear();
    checked.clear();
    whenShown([&](QMenu *menu) {
        const QList<QAction *> actions = menu->actions();
        for (const QAction *action : actions) {
            enabled << action->isEnabled();
            checked << (action->isCheckable() && action->isChecked());
        }
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(menu, &escape);
    });
    EXPECT_EQ(track(40, 30), 0);
    EXPECT_EQ(enabled, (QList<bool>{true, true, true, true}));
    EXPECT_EQ(checked, (QList<bool>{false, false, false, false}));
    EXPECT_TRUE(menus(true).isEmpty());

    const QList<QJsonObject> log = surface.log();
    ASSERT_EQ(log.size(), 2);
    EXPECT_EQ(log[0].value(QStringLiteral("answer")).toInt(-1), 3);
    EXPECT_EQ(log[0].value(QStringLiteral("items")).toArray(),
              (QJsonArray{item(1, "First"), item(2, "Second", false), separator(), item(3, "Third", true, true)}));
    EXPECT_EQ(log[1].value(QStringLiteral("answer")).toInt(-1), 0);
}

// The defaults of the late-bound members come from the registered type library.
class PopupMenuDefaults : public RegisteredHelpers {
protected:
    static void SetUpTestSuite() { ensureWidgetApplication(); }
};

TEST_F(PopupMenuDefaults, omittedArgumentsTakeTheirDefaults)
{
    Surface surface;
    const ComPtr<IDispatch> helper = createHelper();
    ASSERT_TRUE(helper);
    QWidget owner;
    TestSite site(true, &owner);
    static_cast<Quillet *>(helper.get())->SetSite(&site);
    const auto method = [&](const char *name, std::vector<Variant> args, Variant *result = nullptr) {
        EXPECT_EQ(call(helper.get(), QLatin1String(name), DISPATCH_METHOD, std::move(args), result), S_OK) << name;
    };
    method("PopupMenuCreate", {});
    method("PopupMenuAppendItem", {QStringLiteral("Plain"), std::int32_t{1}});
    method("PopupMenuAppendItem", {QStringLiteral("Off"), std::int32_t{2}, std::int32_t{0}});
    method("PopupMenuAppendPathItem", {QStringLiteral("/home/a.t-q"), std::int32_t{3}});
    method("PopupMenuAppendItem", {QStringLiteral("Will check"), std::int32_t{4}});
    method("PopupMenuCheckItem", {std::int32_t{4}});
    method("PopupMenuEnableItem", {std::int32_t{2}});
    surface.answers({menuAnswer(2)});
    Variant chosen;
    method("PopupMenuTrack", {std::int32_t{1}, std::int32_t{2}, QString()}, &chosen);
    EXPECT_EQ(chosen, Variant(std::int32_t{2}));
    EXPECT_EQ(surface.log().value(0).value(QStringLiteral("items")).toArray(),
              (QJsonArray{item(1, "Plain"), item(2, "Off"), item(3, "/home/a.t-q"), item(4, "Will check", true, true)}));

    Variant value;
    ASSERT_EQ(call(helper.get(), QStringLiteral("PopupMenuHandle"), DISPATCH_PROPERTYGET, {}, &value), S_OK);
    EXPECT_NE(value, Variant(std::int32_t{0}));
    method("PopupMenuDestroy", {});
    ASSERT_EQ(call(helper.get(), QStringLiteral("PopupMenuHandle"), DISPATCH_PROPERTYGET, {}, &value), S_OK);
    EXPECT_EQ(value, Variant(std::int32_t{0}));
    Variant abbreviated;
    method("AbbreviateFileName", {QStringLiteral("/home/alice/Documents/Collections/Research/2023/Projects/notes.t-q")},
           &abbreviated);
    EXPECT_EQ(abbreviated, Variant(QStringLiteral("/home/.../Research/2023/Projects/notes.t-q")));
    static_cast<Quillet *>(helper.get())->SetSite(nullptr);
}

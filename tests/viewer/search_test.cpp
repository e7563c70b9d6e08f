// The search field end to end in the real viewer: typed queries against the fragment list's test
// collection, the results as the right frame shows them, commands on them, Esc, and another
// instance's change.

#include "fragment_list_fixture.h"

using namespace tavrelo::helpers;

namespace {

class Search : public FragmentList {
protected:
    void key(const char *name, int code, int modifiers = 0)
    {
        for (const char *type : {"rawKeyDown", "keyUp"})
            m_devTools->call(str("Input.dispatchKeyEvent"), {{str("type"), str(type)}, {str("key"), str(name)},
                                                             {str("code"), str(name)}, {str("windowsVirtualKeyCode"), code},
                                                             {str("modifiers"), modifiers}});
    }
    // Types the query into the emptied field and waits for its results to be complete (what the
    // list showed before is marked, so it is not taken for them): the summary line and the UINs.
    std::pair<QString, QStringList> search(const QString &query)
    {
        js(str("for (const e of listProbe.holder().children) e.dataset.before = 1; fnGetSearchField().select()"));
        m_devTools->call(str("Input.insertText"), {{str("text"), query}});
        EXPECT_TRUE(turnUntil([&] {
            return js(str("FolderChangeTimer == -1 && goQueuedList === null && "
                          "!!listProbe.holder().querySelector('.SearchSummary:not([data-before]), .NoQuillet:not([data-before])')")).toBool();
        }, kViewerMs)) << query.toStdString();
        return {js(str("listProbe.holder().firstElementChild.textContent")).toString(), shownUINs()};
    }
};

TEST_F(Search, FindsEveryFolderMarksAsTextWorksOnResultsAndGivesTheFolderBack)
{
    startOnTestCollection(5);
    const QStringList sorting = shownUINs();
    ASSERT_EQ(js(str("fnPrepareToChangeDatabase() == ktfSuccess && (fnFindElementByUIN(goBase, '502').setAttribute('Comment',"
                     " 'Crème brûlée   at the Café'), fnSaveChangedDatabase(), true)")).toBool(), true);

    // Ctrl+E from the list goes to the field.
    js(str("fnFrame('ktRightFrame').focus()"));
    key("e", 69, 2);
    EXPECT_EQ(js(str("fnFrame('ktToolBars').document.activeElement.id")).toString(), str("ktSearchField"));
    EXPECT_EQ(js(str("fnGetSearchField().placeholder")).toString(), str("Search citations"));

    const struct {
        const char *query, *summary;
        QStringList uins;
    } queries[] = {
        {"work TEXT", "45 citations found", uinList({245, 244, 243})},  // words in the text, any case, newest first
        {"fragment 40", "3 citations found", uinList({402, 401, 240})}, // titles, one in a subfolder
        {"CAFE creme", "1 citation found", uinList({502})},             // accents
        {"\"brulee at the\"", "1 citation found", uinList({502})},      // a phrase, across white space
        {"\"at brulee\"", "No citations match your search.", {}},        // its words in another order
        {"a?b=", "1 citation found", uinList({603})},                   // the address
        {"delta alpha", "2 citations found", uinList({501, 503})},      // words in different fields
        {"zzz", "No citations match your search.", {}},
    };
    for (const auto &q : queries) {
        const auto [summary, uins] = search(str(q.query));
        EXPECT_EQ(summary, str(q.summary)) << q.query;
        EXPECT_EQ(uins.mid(0, q.uins.size()), q.uins) << q.query;
    }
    search(str("work text"));
    EXPECT_EQ(js(str("listProbe.table(245).querySelector('.SearchPath').textContent")).toString(), str("Mine \u203a Work"));
    search(str("CAFE creme"));
    EXPECT_EQ(js(str("Array.from(listProbe.table(502).querySelectorAll('mark'), (m) => m.textContent).join()")).toString(),
              str("Crème,Café"));

    // Stored markup stays text; only the marks are elements.
    search(str("pwned"));
    EXPECT_EQ(js(str("[...listProbe.table(601).querySelectorAll('.FragmentTitle *, .FragmentText *, .BaseURLText *')]"
                     ".map((e) => e.tagName + ':' + e.textContent).join()")).toString(),
              str("MARK:pwned,MARK:pwned,BR:,A:javascript:top.pwned=3,MARK:pwned"));
    EXPECT_EQ(js(str("listProbe.table(601).querySelector('.FragmentTitle').textContent")).toString(), kHostile[0].name);
    EXPECT_EQ(js(str("typeof top.pwned")).toString(), str("undefined"));

    // A command on a result: the results are searched again.
    search(str("delta alpha"));
    answer({{str("kind"), str("message")}, {str("answer"), str("ok")}});
    js(str("setTimeout(() => listProbe.table(503).querySelector('.RemoveFragmentButton').click()); true"));
    EXPECT_TRUE(turnUntil([this] { return shownUINs() == uinList({501}); }, kViewerMs));
    EXPECT_EQ(js(str("listProbe.holder().firstElementChild.textContent")).toString(), str("1 citation found"));
    EXPECT_FALSE(savedFile().contains("UIN=\"503\""));

    // Another instance's change: the search runs again on the reloaded collection.
    const ComPtr<Quillet> other = Quillet::create();
    QByteArray text = savedFile();
    text.replace("TimeStamp=\"3\"", "TimeStamp=\"4\"").replace("Name=\"Alpha\"", "Name=\"Alpha delta\"");
    ScratchRegistry::writeFile(m_path, text);
    other->DoSendChangeNotification(m_path, -1);
    EXPECT_TRUE(turnUntil([this] { return shownUINs() == uinList({501, 502}); }, kViewerMs));

    // Esc gives the folder back, with the tree's selection; choosing a folder ends a search too.
    js(str("fnGetSearchField().focus()"));
    key("Escape", 27);
    EXPECT_TRUE(turnUntil([&] { return shownUINs() == QStringList(sorting).filter(QRegularExpression(str("^(?!503$)"))); }, kViewerMs));
    EXPECT_EQ(js(str("[fnGetSearchField().value, gsSearchQuery, String(goCurrentFolderUIN)].join()")).toString(), str(",,5"));
    search(str("fragment"));
    js(str("listProbe.watch(() => listProbe.selectFolder(4))"));
    EXPECT_EQ(shownUINs(), uinList({402, 401}));
    EXPECT_EQ(js(str("fnGetSearchField().value")).toString(), QString());
}

} // namespace

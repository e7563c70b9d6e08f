// The fragment list end to end: the real viewer shows a collection written to disk; the tests
// click folders and buttons as a user does and read the right frame back through the DevTools
// protocol (list_probe.js), the settings in the registry and the log of user-interface requests.

#include "fragment_list_fixture.h"

#include <algorithm>

namespace {

TEST_F(FragmentList, ListsArriveInChunksAFolderChangeStopsThemAndTheFilterCanBeTurnedOff)
{
    // Hand-written settings that would show no field at all show every field.
    const QString key = str("SOFTWARE\\Tavrelo\\Quillet\\Quillet");
    for (const char *name : {"VisibilityShowTitle", "VisibilityShowDate", "VisibilityShowText", "VisibilityShowComment",
                             "VisibilityShowURL"})
        ASSERT_TRUE(registryprobe::setDword(tavrelo::registry::HKEY_CURRENT_USER, key, str(name), 0));
    startOnTestCollection(5);
    const QJsonObject first = js(str("listProbe.view(501)")).toObject();
    EXPECT_EQ(first.value(str("rows")).toArray(), QJsonArray({str("TitleAndDate"), str("Text"), str("Comment"), str("BaseURL")}));
    EXPECT_FALSE(first.value(str("date")).toString().isEmpty());

    // 9 fragments arrive at once; 45 as 20, 20 and 5, a chunk period apart.
    const QJsonArray nine = js(str("listProbe.watch(() => listProbe.selectFolder(1))")).toArray();
    ASSERT_EQ(nine.size(), 1);
    EXPECT_EQ(nine[0].toObject().value(str("count")).toInt(), 9);
    const QJsonArray long45 = js(str("listProbe.watch(() => listProbe.selectFolder(2))")).toArray();
    ASSERT_EQ(long45.size(), 3) << QJsonDocument(long45).toJson().toStdString();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(long45[i].toObject().value(str("count")).toInt(), std::min(45, 20 * (i + 1)));
    for (int i = 1; i < 3; ++i)
        EXPECT_GE(long45[i].toObject().value(str("at")).toDouble() - long45[i - 1].toObject().value(str("at")).toDouble(), 150) << "a chunk period apart";
    const QJsonObject texts = js(str("listProbe.view(201)")).toObject();
    EXPECT_EQ(texts.value(str("textHTML")).toString(), str("Work text line a<br>b<br>c<br>d<br>e<br>f"));

    // Choosing another folder during a long insertion stops it and shows the new list.
    js(str("listProbe.selectFolder(5)"));
    const QJsonObject interrupted = js(str("listProbe.interrupt(2, 1)")).toObject();
    EXPECT_EQ(interrupted.value(str("seen")).toArray(), QJsonArray({20, 9}));
    EXPECT_EQ(shownUINs(), uinList({109, 108, 107, 106, 105, 104, 103, 102, 101}));

    // Filter off: every fragment of the collection in one sequence, newest first.
    const QJsonArray all = js(str("listProbe.watch(() => listProbe.press('ktsFolderFilter'))"))
                               .toArray();
    ASSERT_FALSE(all.isEmpty());
    EXPECT_EQ(all.last().toObject().value(str("count")).toInt(), kAllFragments);
    const QJsonArray dates = js(str("listProbe.uins().map((u) => fnFindElementByUIN(goBase, u).getAttribute('CreationDate'))")).toArray();
    EXPECT_TRUE(std::is_sorted(dates.begin(), dates.end(), [](const QJsonValue &a, const QJsonValue &b) {
        return a.toString() > b.toString();
    }));
    // Choosing a folder turns the filter on; a folder whose fragments all live in subfolders is empty.
    js(str("listProbe.watch(() => listProbe.selectFolder(3))"));
    EXPECT_TRUE(js(str("gbFilterByFolder")).toBool());
    EXPECT_EQ(js(str("listProbe.holder().innerHTML")).toString(),
              str("<div class=\"NoQuillet\">There are no citations in this folder.</div>"));
}

TEST_F(FragmentList, HostileContentStaysTextAndOnlyWebAddressesAreLinks)
{
    startOnTestCollection(6);
    const QJsonObject script = js(str("listProbe.view(601)")).toObject();
    EXPECT_EQ(script.value(str("title")).toString(), kHostile[0].name);
    EXPECT_EQ(script.value(str("titleElements")).toInt(), 0);
    EXPECT_EQ(script.value(str("textHTML")).toString(), str("&lt;script&gt;top.pwned=2&lt;/script&gt;one<br>two"));
    EXPECT_EQ(script.value(str("comment")).toString(), kHostile[0].comment);
    EXPECT_EQ(script.value(str("commentElements")).toInt(), 0);
    EXPECT_EQ(script.value(str("linkText")).toString(), kHostile[0].url);
    EXPECT_TRUE(script.value(str("href")).isNull()) << "a javascript: address is no link";
    EXPECT_TRUE(js(str("listProbe.view(602).href")).isNull()) << "nor is a file: address";
    EXPECT_EQ(js(str("listProbe.view(603).href")).toString(), kHostile[2].url);

    // Clicks: the javascript: address does nothing, the web address opens outside the viewer.
    js(str("listProbe.table(601).querySelector('a.BaseURL').click(); listProbe.table(603).querySelector('a.BaseURL').click()"));
    const QList<QJsonObject> opened = loggedRequests("open");
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(opened[0].value(str("url")).toString().startsWith(str("https://example.org/a?b=")));
    EXPECT_EQ(js(str("[typeof top.pwned, typeof listProbe.right().pwned, listProbe.right().location.pathname.split('/').pop()].join()"))
                  .toString(),
              str("undefined,undefined,ktRightFrame.htm"));
}

TEST_F(FragmentList, EveryKeyInBothDirectionsFromTheSortMenuIsShownCheckedAndStored)
{
    startOnTestCollection(5);
    // No settings: by date, newest first, and that is stored (index + 1).
    EXPECT_EQ(shownUINs(), uinList({504, 501, 503, 502}));
    EXPECT_EQ(dword("SortBy"), 2u);
    EXPECT_EQ(dword("SortDirection"), 2u);

    struct Case {
        int key;
        QStringList ascending, descending; // equal keys keep document order both ways
    };
    const QList<Case> cases = {
        {0, uinList({502, 501, 504, 503}), uinList({503, 504, 501, 502})},
        {1, uinList({502, 503, 501, 504}), uinList({504, 501, 503, 502})},
        {2, uinList({503, 504, 502, 501}), uinList({501, 502, 504, 503})},
        {3, uinList({501, 503, 504, 502}), uinList({502, 503, 504, 501})},
        {4, uinList({502, 504, 501, 503}), uinList({503, 501, 504, 502})},
    };
    for (const Case &c : cases) {
        for (int direction = 0; direction < 2; ++direction) {
            SCOPED_TRACE(testing::Message() << "key " << c.key << ", direction " << direction);
            answer({{str("kind"), str("menu")}, {str("answer"), c.key + 1}});
            js(str("fnSortModeSelect()"));
            answer({{str("kind"), str("menu")}, {str("answer"), 6 + direction}});
            js(str("fnSortModeSelect()"));
            EXPECT_EQ(shownUINs(), direction ? c.descending : c.ascending);
            EXPECT_EQ(dword("SortBy"), std::uint32_t(c.key + 1));
            EXPECT_EQ(dword("SortDirection"), std::uint32_t(direction + 1));
            // The direction menu showed the key just chosen checked.
            const QJsonArray items = loggedRequests("menu").last().value(str("items")).toArray();
            ASSERT_EQ(items.size(), 8);
            for (int i = 0; i < 5; ++i)
                EXPECT_EQ(items[i].toObject().value(str("checked")).toBool(), i == c.key);
        }
    }
    QStringList texts;
    for (const QJsonValue item : loggedRequests("menu").first().value(str("items")).toArray())
        texts << item.toObject().value(str("text")).toString();
    EXPECT_EQ(texts, QStringList({str("Sort by &Title"), str("Sort by &Date"), str("Sort by Te&xt"), str("Sort by &Comment"),
                                  str("Sort by &URL"), QString(), str("Sort &Ascending"), str("Sort D&escending")}));
    // A dismissed menu changes nothing.
    js(str("fnSortModeSelect()"));
    EXPECT_EQ(shownUINs(), cases.last().descending);
}

TEST_F(FragmentList, CommandsActOnWholeSelectedFragmentsAndTextsExpandAndCollapse)
{
    startOnTestCollection(3);
    js(str("listProbe.watch(() => listProbe.selectFolder(2))"));
    const QStringList shown = shownUINs();
    ASSERT_EQ(shown.size(), 45);
    EXPECT_EQ(js(str("listProbe.tables().every((t) => Array.from(t.querySelectorAll('img')).every((i) => i.naturalWidth == 16))"))
                  .toBool(),
              true)
        << "every button image is there";

    // A selection from the middle of one text into another's takes both fragments and all between.
    js(str("listProbe.selectAcross(3, 5)"));
    QStringList selected;
    for (const QJsonValue t : js(str("fnBuildSelectedTablesArray(false).aTables.map((t) => t.getAttribute('UIN'))")).toArray())
        selected << t.toString();
    EXPECT_EQ(selected, shown.mid(3, 3));

    // Expand all, then collapse the selected ones: the others stay expanded and the selection is back.
    js(str("fnExpandCollapseFraments(true)"));
    EXPECT_EQ(js(str("listProbe.expanded().filter(Boolean).length")).toInt(), 45);
    js(str("listProbe.selectAcross(3, 5); fnExpandCollapseFraments(false)"));
    QJsonArray expected;
    for (int i = 0; i < 45; ++i)
        expected.append(i < 3 || i > 5);
    EXPECT_EQ(js(str("listProbe.expanded()")).toArray(), expected);
    EXPECT_TRUE(js(str("listProbe.right().getSelection().containsNode(listProbe.tables()[4], false)")).toBool());
    // With no selection, Collapse Texts collapses every text.
    js(str("listProbe.right().getSelection().removeAllRanges(); fnExpandCollapseFraments(false)"));
    EXPECT_EQ(js(str("listProbe.expanded().filter(Boolean).length")).toInt(), 0);

    // A fragment's own button toggles its text, which then shows whole.
    const QJsonArray toggled = js(str(
        "(() => { const t = listProbe.tables()[0], b = t.querySelector('.ExpandButton'), h = () => t.querySelector('.FragmentText').offsetHeight;"
        " const before = h(); b.click(); const open = [listProbe.expanded()[0], b.src.split('/').pop(), h() > before];"
        " b.click(); return open.concat([listProbe.expanded()[0], b.src.split('/').pop(), h() == before]); })()")).toArray();
    EXPECT_EQ(toggled, QJsonArray({true, str("FragmentCollapse.gif"), true, false, str("FragmentExpand.gif"), true}));

    // Printing widens a partial selection to whole fragments.
    EXPECT_TRUE(js(str("listProbe.selectAcross(7, 8); listProbe.right().dispatchEvent(new Event('beforeprint'));"
                       "const s = listProbe.right().getSelection(); s.containsNode(listProbe.tables()[7], false) &&"
                       " s.containsNode(listProbe.tables()[8], false)")).toBool());

    // A command that needs a selection says so when there is none.
    EXPECT_TRUE(js(str("listProbe.right().getSelection().removeAllRanges(); fnBuildSelectedTablesArray(true) === null")).toBool());
    EXPECT_EQ(messages(), QStringList({str("You should select at least one citation to use this command.")}));
}

TEST_F(FragmentList, TheVisibilityDialogChoosesTheShownFieldsInBothModes)
{
    startOnTestCollection(5);
    // Opens the dialog from the viewer (which waits for it) and connects to it once it is ready.
    auto openDialog = [this](const char *call) { return openVisibilityDialog(call); };
    const char *state = "['ctlShowContents', 'ctlShowFieldNames', 'ctlShowTitle', 'ctlShowDate', 'ctlShowText', 'ctlShowComment', 'ctlShowURL']"
                        ".map((id) => { const b = document.getElementById(id); return (b.closest('tr').style.display == 'none' ? '-' : '') +"
                        " (b.checked ? 'x' : 'o') + (b.disabled ? 'd' : ''); }).join(' ')";
    auto set = [](std::initializer_list<std::pair<const char *, bool>> boxes) { return setBoxes(boxes); };

    // The list's mode: every field checked; nothing but the date is refused; the date follows the title.
    auto dialog = openDialog("fnChangeVisibilityOptions()");
    EXPECT_EQ(dialog->evaluate(str(state)).toString(), str("-o x x x x x x"));
    dialog->evaluate(set({{"ctlShowTitle", false}, {"ctlShowText", false}, {"ctlShowComment", false}, {"ctlShowURL", false}}) +
                     str("document.getElementById('OK').click()"));
    EXPECT_EQ(messages(), QStringList({str("You must select at least one field to be shown.")}));
    EXPECT_EQ(dialog->evaluate(str(state)).toString(), str("-o x o xd o o o")) << "the dialog stays open";
    dialog->evaluate(set({{"ctlShowText", true}}) + str("setTimeout(() => document.getElementById('OK').click()); true"));
    EXPECT_TRUE(js(str("window.dialogDone")).toBool());
    // Title off: the buttons move to the text row and the date goes with the title.
    QJsonObject view = js(str("listProbe.view(501)")).toObject();
    EXPECT_EQ(view.value(str("rows")).toArray(), QJsonArray({str("Text")}));
    EXPECT_EQ(view.value(str("toolsRow")).toString(), str("Text"));
    EXPECT_EQ(view.value(str("toolsCell")).toString(), str("FieldTitle"));
    EXPECT_TRUE(view.value(str("date")).isNull());
    EXPECT_EQ(std::vector<std::uint32_t>({dword("VisibilityHideFieldNames"), dword("VisibilityShowTitle"), dword("VisibilityShowDate"),
                                          dword("VisibilityShowText"), dword("VisibilityShowComment"), dword("VisibilityShowURL")}),
              std::vector<std::uint32_t>({0, 0, 1, 1, 0, 0}));

    // The stored date choice comes back with the title; field names off leave two columns.
    dialog = openDialog("fnChangeVisibilityOptions()");
    EXPECT_EQ(dialog->evaluate(str(state)).toString(), str("-o x o xd x o o"));
    dialog->evaluate(set({{"ctlShowTitle", true}, {"ctlShowFieldNames", false}, {"ctlShowComment", true}}));
    EXPECT_EQ(dialog->evaluate(str(state)).toString(), str("-o o x x x x o"));
    dialog->evaluate(str("setTimeout(() => document.getElementById('OK').click()); true"));
    EXPECT_TRUE(js(str("window.dialogDone")).toBool());
    view = js(str("listProbe.view(501)")).toObject();
    EXPECT_EQ(view.value(str("rows")).toArray(), QJsonArray({str("TitleAndDate"), str("Text"), str("Comment")}));
    EXPECT_EQ(view.value(str("cols")).toString(), str("2"));
    EXPECT_EQ(view.value(str("colWidths")).toArray(), QJsonArray({str("15px"), str("98%")}));
    EXPECT_EQ(view.value(str("fieldNames")).toArray(), QJsonArray());
    EXPECT_EQ(view.value(str("toolsCell")).toString(), str("FieldTools")) << "move and delete stay reachable";
    EXPECT_FALSE(view.value(str("date")).toString().isEmpty());
    EXPECT_EQ(dword("VisibilityHideFieldNames"), 1u);

    // The export's mode: contents instead of the date, and the address alone is not enough.
    dialog = openDialog("fnShowVisibilityDialog(Object.assign({}, goVisibilityOptions, {nMode: cvoHTMLExport, bShowContents: true}))");
    EXPECT_EQ(dialog->evaluate(str(state)).toString(), str("x o x -x x x o"));
    dialog->evaluate(set({{"ctlShowTitle", false}, {"ctlShowText", false}, {"ctlShowComment", false}, {"ctlShowURL", true}}) +
                     str("document.getElementById('OK').click()"));
    EXPECT_EQ(messages().last(), str("You must select at least one field (Title, Text or Comment) to be shown."));
    dialog->evaluate(str("setTimeout(() => document.getElementById('Cancel').click()); true"));
    EXPECT_TRUE(js(str("window.dialogDone && window.dialogResult === undefined")).toBool()) << "Cancel returns nothing";
    EXPECT_EQ(dword("VisibilityShowURL"), 0u) << "and stores nothing";
}

} // namespace

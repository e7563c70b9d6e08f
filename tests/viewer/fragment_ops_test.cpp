// Fragment operations end to end: fields edited in place with real key and mouse events, and
// fragments deleted, moved and copied, checked in the list and in the saved file.

#include "fragment_list_fixture.h"

#include <QRegularExpression>

namespace {

class FragmentOps : public FragmentList {
protected:
    // A real key press: down (with the text it types) and up.
    void key(const char *name, int code, int modifiers = 0, const char *text = "")
    {
        QJsonObject event{{str("type"), str("keyDown")}, {str("key"), str(name)}, {str("code"), str(name)},
                          {str("windowsVirtualKeyCode"), code}, {str("modifiers"), modifiers}, {str("text"), str(text)}};
        m_devTools->call(str("Input.dispatchKeyEvent"), event);
        event.insert(str("type"), str("keyUp"));
        event.remove(str("text"));
        m_devTools->call(str("Input.dispatchKeyEvent"), event);
    }
    void type(const QString &text) { m_devTools->call(str("Input.insertText"), {{str("text"), text}}); }
    void enter(int modifiers = 0) { key("Enter", 13, modifiers, "\r"); }
    void clickAt(const QJsonObject &point)
    {
        for (const char *type : {"mousePressed", "mouseReleased"})
            m_devTools->call(str("Input.dispatchMouseEvent"),
                             {{str("type"), str(type)}, {str("x"), point.value(str("x"))}, {str("y"), point.value(str("y"))},
                              {str("button"), str("left")}, {str("clickCount"), 1}});
    }
    int timeStamp() const
    {
        const auto match = QRegularExpression(str("TimeStamp=\"(\\d+)\"")).match(QString::fromUtf8(savedFile()));
        return match.hasMatch() ? match.captured(1).toInt() : -1;
    }
};

TEST_F(FragmentOps, FieldsAreEditedInPlaceAndStoredOnceAsText)
{
    startOnTestCollection(6);
    // An empty comment opens a usable box; Shift+Enter and Ctrl+Enter break lines; Enter stores.
    const QJsonObject box = js(str("listProbe.edit(604, 'Comment')")).toObject();
    EXPECT_GE(box.value(str("height")).toDouble(), 12);
    EXPECT_TRUE(box.value(str("focused")).toBool());
    type(str("first"));
    enter(8); // Shift
    type(str("second"));
    enter(2); // Ctrl
    type(str("third"));
    enter();
    EXPECT_TRUE(savedFile().contains("Comment=\"first!BR/!second!BR/!third\"")) << savedFile().toStdString();
    EXPECT_EQ(js(str("listProbe.table(604).querySelector('.FragmentComment').innerHTML")).toString(),
              str("first<br>second<br>third"));
    EXPECT_EQ(timeStamp(), 2);

    // Esc gives the field back untouched and writes nothing.
    const QByteArray before = savedFile();
    js(str("listProbe.edit(603, 'TitleAndDate')"));
    type(str("abandoned"));
    key("Escape", 27);
    EXPECT_EQ(js(str("listProbe.view(603).title")).toString(), str("web"));
    EXPECT_FALSE(js(str("listProbe.view(603).date")).toString().isEmpty()) << "the date is back";
    EXPECT_EQ(savedFile(), before);

    // A click elsewhere stores exactly once; typed markup stays text, also after a reload.
    js(str("listProbe.edit(603, 'TitleAndDate')"));
    type(str("<i>typed</i>"));
    clickAt(js(str("listProbe.centre(listProbe.table(601).querySelector('.FragmentText'))")).toObject());
    EXPECT_EQ(timeStamp(), 3);
    EXPECT_TRUE(savedFile().contains("Name=\"&lt;i&gt;typed&lt;/i&gt;\""));
    js(str("fnLoadFile(gsCurrentPath)"));
    const QJsonObject title = js(str("listProbe.view(603)")).toObject();
    EXPECT_EQ(title.value(str("title")).toString(), str("<i>typed</i>"));
    EXPECT_EQ(title.value(str("titleElements")).toInt(), 0);

    // An edited address is a working link; edited to javascript: it is none.
    js(str("listProbe.edit(602, 'BaseURL')"));
    type(str("https://new.example/x"));
    enter();
    EXPECT_EQ(js(str("listProbe.view(602).href")).toString(), str("https://new.example/x"));
    js(str("listProbe.table(602).querySelector('a.BaseURL').click()"));
    ASSERT_EQ(loggedRequests("open").size(), 1);
    EXPECT_EQ(loggedRequests("open")[0].value(str("url")).toString(), str("https://new.example/x"));
    js(str("listProbe.edit(602, 'BaseURL')"));
    type(str("javascript:top.pwned=1"));
    enter();
    EXPECT_TRUE(js(str("listProbe.view(602).href")).isNull());
    EXPECT_EQ(js(str("listProbe.view(602).linkText")).toString(), str("javascript:top.pwned=1"));

    // Another program's change made meanwhile is kept: the edit goes into the reloaded file.
    QByteArray outside = savedFile();
    outside.replace("Name=\"file\"", "Name=\"renamed outside\"").replace("TimeStamp=\"5\"", "TimeStamp=\"50\"");
    ScratchRegistry::writeFile(m_path, outside);
    js(str("listProbe.edit(601, 'Comment')"));
    type(str("inside"));
    enter();
    EXPECT_EQ(messages().last(), str("The file has been modified by another program.\nIt will be reloaded."));
    EXPECT_TRUE(savedFile().contains("Name=\"renamed outside\""));
    EXPECT_TRUE(savedFile().contains("Comment=\"inside\""));
    EXPECT_EQ(js(str("listProbe.view(601).comment")).toString(), str("inside"));
    EXPECT_EQ(timeStamp(), 51);
}

TEST_F(FragmentOps, SelectedFragmentsAreDeletedAfterTheRightQuestion)
{
    startOnTestCollection(1);
    const QStringList shown = shownUINs();
    ASSERT_EQ(shown.size(), 9);
    // Three selected fragments: the plural question, then they are gone from list and file.
    js(str("listProbe.selectAcross(0, 2); listProbe.press('ktsDeleteFragments')"));
    EXPECT_EQ(messages().last(), str("Are you sure that you want to delete selected citations?"));
    EXPECT_EQ(shownUINs(), shown.mid(3));
    for (const QString &uin : shown.mid(0, 3))
        EXPECT_FALSE(savedFile().contains(("UIN=\"" + uin + "\"").toUtf8()));
    EXPECT_EQ(js(str("listProbe.holder().querySelectorAll('hr').length")).toInt(), 6) << "their rules went too";
    // The fragment's own button asks the singular question; No keeps it.
    answer({{str("kind"), str("message")}, {str("answer"), str("cancel")}});
    js(QStringLiteral("listProbe.table(%1).querySelector('.RemoveFragmentButton').click()").arg(shown[3]));
    EXPECT_EQ(messages().last(), str("Are you sure that you want to delete this citation?"));
    EXPECT_EQ(shownUINs().size(), 6);
    // Nothing selected: the toolbar's command says so.
    js(str("listProbe.right().getSelection().removeAllRanges(); fnDeleteFragments()"));
    EXPECT_EQ(messages().last(), str("You should select at least one citation to use this command."));

    // The last fragment of a folder deleted: the empty-list message.
    js(str("listProbe.selectFolder(4)"));
    js(str("listProbe.table(401).querySelector('.RemoveFragmentButton').click();"
           "listProbe.table(402).querySelector('.RemoveFragmentButton').click()"));
    EXPECT_EQ(js(str("listProbe.holder().textContent")).toString(), str("There are no citations in this folder."));
    EXPECT_FALSE(savedFile().contains("UIN=\"402\""));
}

TEST_F(FragmentOps, FragmentsAreCopiedIntoTheirOwnFolderAndMovedToAnother)
{
    startOnTestCollection(5);
    // Chooses a folder in the chooser's tree (with "Make copy" as given) and presses OK.
    auto choose = [this](const char *call, int folder, bool copy) {
        auto chooser = openVisibilityDialog(call, "/ktMoveToFolder.htm");
        chooser->evaluate(QStringLiteral("document.querySelector('li[UIN=\"%1\"] > span').click();"
                                         "if (document.getElementById('ctlMakeCopy').checked != %2) document.getElementById('ctlMakeCopy').click();"
                                         "setTimeout(() => document.getElementById('OK').click()); true")
                              .arg(folder).arg(str(copy ? "true" : "false")));
        EXPECT_TRUE(js(str("window.dialogDone")).toBool());
    };
    // A copy into its own folder: a second fragment with a new UIN, and the list rebuilt.
    choose("listProbe.table(501).querySelector('.MoveFragmentButton').click()", 5, true);
    const QStringList shown = shownUINs();
    ASSERT_EQ(shown.size(), 5);
    // The copy keeps 501's date, so it follows 501 (equal keys in file order).
    EXPECT_EQ(shown.mid(0, 2), uinList({504, 501}));
    EXPECT_FALSE(uinList({501, 502, 503, 504}).contains(shown[2])) << shown[2].toStdString();
    EXPECT_EQ(savedFile().count("Name=\"Beta\""), 2);
    // The selected fragments moved to another folder leave the list and the file holds them there.
    js(str("listProbe.selectAcross(2, 3)"));
    const QStringList moved = shownUINs().mid(2, 2);
    choose("fnMoveFragments()", 6, false);
    EXPECT_EQ(shownUINs(), QStringList({shown[0], shown[1], shown[4]}));
    js(str("listProbe.selectFolder(6)"));
    for (const QString &uin : moved)
        EXPECT_TRUE(shownUINs().contains(uin)) << uin.toStdString();
}

// A change made while a long list is still being inserted, after another program's change made
// the viewer reload (which starts the list afresh): fragments deleted or moved away beyond the
// first chunk are not drawn by the later chunks.
TEST_F(FragmentOps, FragmentsDeletedOrMovedAwayDuringAReloadedListStayAway)
{
    startOnTestCollection(2);
    const char idle[] = "new Promise((r) => { const t = () => listProbe.idle() ? r(true) : setTimeout(t, 20); t(); })";
    ASSERT_TRUE(js(str(idle)).toBool());
    QStringList expected = shownUINs();
    ASSERT_EQ(expected.size(), 45);
    for (const char *command : {"fnDeleteFragments", "fnMoveFragments"}) {
        SCOPED_TRACE(command);
        const QStringList changed = expected.mid(25, 5); // beyond the first chunk of 20
        QByteArray outside = savedFile();
        const int stamp = timeStamp();
        const QByteArray from = "TimeStamp=\"" + QByteArray::number(stamp) + '"';
        const QByteArray to = "TimeStamp=\"" + QByteArray::number(stamp + 10) + '"';
        outside.replace(from, to);
        ScratchRegistry::writeFile(m_path, outside);
        const QString call = QStringLiteral("%1(%2)").arg(str(command), QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(changed)).toJson(QJsonDocument::Compact)));
        if (str(command) == str("fnMoveFragments")) {
            auto chooser = openVisibilityDialog(call.toUtf8().constData(), "/ktMoveToFolder.htm");
            chooser->evaluate(str("document.querySelector('li[UIN=\"6\"] > span').click(); setTimeout(() => document.getElementById('OK').click()); true"));
            EXPECT_TRUE(js(str("window.dialogDone")).toBool());
        } else {
            js(call);
        }
        EXPECT_EQ(messages().last(), str("The file has been modified by another program.\nIt will be reloaded."));
        ASSERT_TRUE(js(str(idle)).toBool());
        for (const QString &uin : changed)
            expected.removeOne(uin);
        EXPECT_EQ(shownUINs(), expected);
        EXPECT_EQ(timeStamp(), stamp + 11) << "saved once, after the other program's change";
    }
}

// A save that fails (here the collection's folder does not exist yet) is reported as a failure
// by every change function; the changes stay in the viewer, which shows them, and the next save,
// once the folder is there, writes them all.
TEST_F(FragmentOps, AFailedSaveIsAFailureAndTheChangesAreSavedLater)
{
    startOnTestCollection(1);
    const QString later = m_files.filePath(str("later/List.t-q"));
    ASSERT_TRUE(js(QStringLiteral("fnLoadFile('%1'); window.uinOf = (name) => goBase.selectSingleNode(\"//*[@Name='\" + name + \"']\")"
                                  ".getAttribute('UIN'); gbCollectionOpen").arg(later)).toBool());
    const char *const changes[] = {
        "fnChangeOpenCollection(() => { const root = fnGetDatabaseElement(goBase), add = (parent, kind, name) => {"
        " const e = parent.appendChild(goBase.createElement(kind)); e.setAttribute('UIN', fnCreateNewUIN(goBase));"
        " e.setAttribute('Name', name); }; ['a', 'b', 'c', 'd'].forEach((n) => add(root.selectSingleNode(cxbiNODE), cxbiFRAGMENT, n));"
        " add(root, cxbiNODE, 'Target'); return true; })",
        "fnApplyFragmentPropertyChangeToBase(uinOf('a'), 'Comment', 'edited')",
        "fnDeleteFragmentFromBase([uinOf('b')])",
        "fnMoveFragmentInBase(uinOf('Target'), '1', [uinOf('c')], false)",
    };
    for (const char *change : changes)
        EXPECT_EQ(js(str(change)).toVariant().toInt(), 0) << change; // ktfFailure, or false
    EXPECT_EQ(messages().size(), 4);
    EXPECT_TRUE(messages().value(0).startsWith(str("The change could not be saved.")));
    EXPECT_EQ(js(str("listProbe.tables().map((t) => t.querySelector('.FragmentTitle').textContent).join()")).toString(), str("a,d"))
        << "the list shows the changed collection";

    ASSERT_TRUE(QDir().mkpath(QFileInfo(later).absolutePath()));
    EXPECT_EQ(js(str("fnDeleteFragmentFromBase([uinOf('d')])")).toInt(), 1) << "ktfSuccess";
    const QString saved = QString::fromUtf8(ScratchRegistry::readFile(later));
    for (const char *kept : {"Name=\"a\" Comment=\"edited\"", "Name=\"Target\""})
        EXPECT_TRUE(saved.contains(str(kept))) << kept << saved.toStdString();
    for (const char *gone : {"Name=\"b\"", "Name=\"d\""})
        EXPECT_FALSE(saved.contains(str(gone))) << gone;
    EXPECT_TRUE(QRegularExpression(str("(?s)Name=\"Target\"[^>]*>(?:(?!</TavTracker:ktNODE>).)*Name=\"c\"")).match(saved).hasMatch());
}

} // namespace

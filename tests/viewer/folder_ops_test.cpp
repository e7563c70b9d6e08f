// The folder commands end to end: the real viewer on a collection written to disk; the tests start
// the commands as the toolbar does, answer their dialogs in the dialogs' own windows and their
// questions through the user-interface test file, and read the result back from the folder tree
// (folder_probe.js), the log of user-interface requests and the saved collection file.

#include "support/viewerfixture.h"

#include <QSet>
#include <QXmlStreamReader>

using namespace tavrelo::helpers;

namespace {

// The test collection (NextUIN 500, TimeStamp 1):
//   0 Mine > 1 Default Collection (system; 101), 2 Work (201, 202) > 3 Projects > 4 Alpha (401),
//                                                                   5 Notes;
//            6 "Irregular  Name", 7 Leaf, 8 Other > 9 "projects " (stored with a trailing blank).
const char kCollection[] =
    "<TavTracker:ktNODE Name=\"Default Collection\" UIN=\"1\" IsUnsortedNode=\"1\"><TavTracker:ktFRAGMENT UIN=\"101\" Name=\"d\"/>"
    "</TavTracker:ktNODE><TavTracker:ktNODE Name=\"Work\" UIN=\"2\"><TavTracker:ktFRAGMENT UIN=\"201\" Name=\"w1\"/>"
    "<TavTracker:ktFRAGMENT UIN=\"202\" Name=\"w2\"/><TavTracker:ktNODE Name=\"Projects\" UIN=\"3\"><TavTracker:ktNODE "
    "Name=\"Alpha\" UIN=\"4\"><TavTracker:ktFRAGMENT UIN=\"401\" Name=\"a\"/></TavTracker:ktNODE></TavTracker:ktNODE>"
    "<TavTracker:ktNODE Name=\"Notes\" UIN=\"5\"/></TavTracker:ktNODE><TavTracker:ktNODE Name=\"Irregular  Name\" UIN=\"6\"/>"
    "<TavTracker:ktNODE Name=\"Leaf\" UIN=\"7\"/><TavTracker:ktNODE Name=\"Other\" UIN=\"8\"><TavTracker:ktNODE "
    "Name=\"projects \" UIN=\"9\"/></TavTracker:ktNODE>";

const char kExists[] = "Folder with the same name already exists.\n\nPlease select another name.";

// A folder as the saved file holds it.
struct DiskFolder {
    QString name, parent;
    QStringList fragments;
    bool operator==(const DiskFolder &) const = default;
};
struct DiskCollection {
    QString timeStamp, nextUIN;
    QMap<QString, DiskFolder> folders;
};

DiskCollection readCollection(const QString &path)
{
    DiskCollection collection;
    QXmlStreamReader xml(ScratchRegistry::readFile(path));
    QStringList open; // the folders enclosing the reader's place
    while (!xml.atEnd()) {
        xml.readNext();
        const QString element = xml.qualifiedName().toString();
        const bool folder = element == str("TavTracker:ktDATABASE") || element == str("TavTracker:ktNODE");
        if (xml.isStartElement() && element == str("root")) {
            collection.timeStamp = xml.attributes().value(str("TimeStamp")).toString();
            collection.nextUIN = xml.attributes().value(str("NextUIN")).toString();
        } else if (xml.isStartElement() && folder) {
            const QString uin = xml.attributes().value(str("UIN")).toString();
            collection.folders.insert(uin, {xml.attributes().value(str("Name")).toString(), open.value(open.size() - 1), {}});
            open << uin;
        } else if (xml.isStartElement() && element == str("TavTracker:ktFRAGMENT")) {
            collection.folders[open.last()].fragments << xml.attributes().value(str("UIN")).toString();
        } else if (xml.isEndElement() && folder) {
            open.removeLast();
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return collection;
}

class FolderOps : public Viewer {
protected:
    void startOn(int currentNode)
    {
        m_path = m_files.filePath(str("Folders.t-q"));
        ScratchRegistry::writeFile(m_path, QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root xmlns:TavTracker="
                                                      "\"http://www.tavrelo.com/tracker/\" TimeStamp=\"1\" NextUIN=\"500\" "
                                                      "dbversion=\"1.0\"><TavTracker:ktDATABASE Name=\"Mine\" IsDatabase=\"-1\" "
                                                      "UIN=\"0\" CurrentNode=\"") +
                                               QByteArray::number(currentNode) + "\">" + kCollection +
                                               "</TavTracker:ktDATABASE></root>");
        startClipvane({m_path});
        waitForTitle([](const QString &t) { return t.contains(str("Folders.t-q")); });
        ASSERT_TRUE(m_devTools->attach(str("/TavTracker.hta")));
        QFile probe(str(FOLDER_PROBE_JS));
        ASSERT_TRUE(probe.open(QIODevice::ReadOnly));
        ASSERT_TRUE(js(QString::fromUtf8(probe.readAll())).toBool()) << "the probe loads";
    }

    QJsonValue js(const QString &expression) { return m_devTools->evaluate(expression); }
    QJsonObject folder(int uin) { return js(str("folderProbe.tree()")).toObject().value(QString::number(uin)).toObject(); }
    QString current() { return js(str("fnGetTree().GetCurrentNodeUIN()")).toString(); }
    QStringList messages()
    {
        QStringList texts;
        for (const QJsonObject &message : loggedRequests("message"))
            texts << message.value(str("text")).toString();
        return texts;
    }

    // Starts a command (script) that opens a dialog and connects to that dialog's window once it
    // is ready; every window is taken once, so a dialog asked again is a new one.
    std::unique_ptr<DevToolsPage> start(const QString &command, const char *page)
    {
        EXPECT_TRUE(js(QStringLiteral("folderProbe.start(() => %1)").arg(command)).toBool());
        return nextDialog(page);
    }
    std::unique_ptr<DevToolsPage> nextDialog(const char *page)
    {
        auto dialog = std::make_unique<DevToolsPage>(m_devToolsPort);
        EXPECT_TRUE(dialog->attach([this, page](const QJsonObject &target) {
            return target.value(str("url")).toString().endsWith(str(page)) && !m_dialogs.contains(target.value(str("id")).toString());
        }));
        m_dialogs << dialog->id();
        EXPECT_TRUE(turnUntil([&dialog] {
            return dialog->evaluate(str("new Promise((r) => setTimeout(() => r(document.readyState == 'complete')))")).toBool();
        }, kViewerMs));
        return dialog;
    }
    // Types the name into a name dialog and presses OK (after the evaluation returns, as the
    // window then closes).
    static void answerName(DevToolsPage &dialog, const QString &name)
    {
        dialog.evaluate(QStringLiteral("document.getElementById('ctlName').value = %1;"
                                       " setTimeout(() => document.getElementById('OK').click()); true")
                            .arg(QString::fromUtf8(QJsonDocument(QJsonArray{name}).toJson(QJsonDocument::Compact)).mid(1).chopped(1)));
    }
    static void press(DevToolsPage &dialog, const char *button)
    {
        dialog.evaluate(QStringLiteral("setTimeout(() => document.getElementById('%1').click()); true").arg(str(button)));
    }
    // Chooses a folder in the chooser's tree and presses OK: refused, the chooser stays open and
    // has said why when this returns; accepted, it closes after this returns.
    static void refuse(DevToolsPage &dialog, int uin)
    {
        dialog.evaluate(QStringLiteral("document.querySelector('#ctlTree li[UIN=\"%1\"] > span').click();"
                                       " document.getElementById('OK').click(); true").arg(uin));
    }
    static void accept(DevToolsPage &dialog, int uin)
    {
        dialog.evaluate(QStringLiteral("document.querySelector('#ctlTree li[UIN=\"%1\"] > span').click(); true").arg(uin));
        press(dialog, "OK");
    }
    // The command has ended (the page answers once it is idle).
    void finished() { EXPECT_TRUE(js(str("folderProbe.done()")).toBool()); }
    bool isOpen(const DevToolsPage &dialog)
    {
        const QList<QJsonObject> pages = m_devTools->targets();
        return std::any_of(pages.begin(), pages.end(), [&dialog](const QJsonObject &p) { return p.value(str("id")) == dialog.id(); });
    }

    QString m_path;
    QSet<QString> m_dialogs;
};

TEST_F(FolderOps, ANewFolderGetsANormalisedNameAndACaseOnlyDuplicateIsAskedAgain)
{
    startOn(4); // the way to Alpha is expanded
    js(str("folderProbe.select(0)"));
    const QJsonArray centre = js(str("(() => { const o = __tavreloHost.contentScreenOrigin();"
                                     " return [o.x + innerWidth / 2, o.y + innerHeight / 2]; })()")).toArray();
    auto dialog = start(str("fnNewFolder()"), "/ktNewNode.htm");
    const char *shown = "[document.title, document.getElementById('ctlLabel').textContent, document.getElementById('ctlName').value,"
                        " document.activeElement.id, document.getElementById('ctlName').selectionStart,"
                        " document.getElementById('ctlName').selectionEnd]";
    const QJsonArray fresh = {str("New folder"), str("Enter new folder name:"), str("New folder"), str("ctlName"), 0, 10};
    EXPECT_EQ(dialog->evaluate(str(shown)).toArray(), fresh);
    const QJsonArray geometry = dialog->evaluate(str("[dialogLeft, dialogTop, dialogWidth, dialogHeight].map((v) => parseInt(v))")).toArray();
    EXPECT_NEAR(geometry[0].toDouble() + 110, centre[0].toDouble(), 1) << "on the viewer's centre";
    EXPECT_NEAR(geometry[1].toDouble() + 70, centre[1].toDouble(), 1);
    EXPECT_EQ(geometry[2].toInt(), 220);
    EXPECT_EQ(geometry[3].toInt(), 140);

    // A name that differs from a sibling's only by case, or from a stored name only by its
    // blanks, is refused, and the dialog opens afresh.
    for (const char *taken : {"  work ", "Irregular \t Name"}) {
        SCOPED_TRACE(taken);
        answerName(*dialog, str(taken));
        dialog = nextDialog("/ktNewNode.htm");
        EXPECT_EQ(dialog->evaluate(str(shown)).toArray(), fresh);
    }
    // A control character (which no XML file can hold) goes; the file stays readable.
    answerName(*dialog, str("  Fresh \t \x01 <b>ideas</b>  "));
    finished();
    EXPECT_EQ(messages(), QStringList({str(kExists), str(kExists)}));

    // Shown at the end of the root folder's list as typed text, not selected; the expansion stays.
    const QJsonObject created = folder(500);
    EXPECT_EQ(created.value(str("name")).toString(), str("Fresh <b>ideas</b>"));
    EXPECT_EQ(created.value(str("elements")).toInt(), 0);
    EXPECT_EQ(created.value(str("parent")).toString(), str("0"));
    EXPECT_EQ(created.value(str("cls")).toString(), str("FolderNotExpandable"));
    EXPECT_EQ(js(str("folderProbe.item(0).querySelector('ul').lastElementChild.getAttribute('UIN')")).toString(), str("500"));
    EXPECT_EQ(current(), str("0"));
    EXPECT_EQ(folder(3).value(str("cls")).toString(), str("FolderExpanded"));
    DiskCollection disk = readCollection(m_path);
    EXPECT_EQ(disk.folders.value(str("500")), (DiskFolder{str("Fresh <b>ideas</b>"), str("0"), {}}));
    EXPECT_EQ(disk.timeStamp, str("2"));
    EXPECT_EQ(disk.nextUIN, str("501"));

    // Cancel and a blank name change nothing.
    dialog = start(str("fnNewFolder()"), "/ktNewNode.htm");
    press(*dialog, "Cancel");
    finished();
    dialog = start(str("fnNewFolder()"), "/ktNewNode.htm");
    answerName(*dialog, str(" \t "));
    finished();
    EXPECT_EQ(readCollection(m_path).timeStamp, str("2"));
    EXPECT_EQ(messages().size(), 2);
}

TEST_F(FolderOps, ARenameTakesAnotherCaseIgnoresTheOldNameAndAsksAgainOnASiblingsName)
{
    startOn(2);
    auto dialog = start(str("fnRenameFolder()"), "/ktRenameNode.htm");
    const char *shown = "[document.title, document.getElementById('ctlLabel').textContent, document.getElementById('ctlName').value]";
    const QJsonArray renaming = {str("Rename Folder"), str("Enter new name:"), str("Work")};
    EXPECT_EQ(dialog->evaluate(str(shown)).toArray(), renaming);
    answerName(*dialog, str(" Work "));
    finished();
    EXPECT_EQ(readCollection(m_path).timeStamp, str("1")) << "the old name changes nothing";

    dialog = start(str("fnRenameFolder()"), "/ktRenameNode.htm");
    answerName(*dialog, str("oTHER"));
    dialog = nextDialog("/ktRenameNode.htm");
    EXPECT_EQ(dialog->evaluate(str(shown)).toArray(), renaming) << "asked again with the old name";
    answerName(*dialog, str("WORK"));
    finished();
    EXPECT_EQ(messages(), QStringList({str(kExists)}));
    EXPECT_EQ(folder(2).value(str("name")).toString(), str("WORK"));
    DiskCollection disk = readCollection(m_path);
    EXPECT_EQ(disk.folders.value(str("2")).name, str("WORK"));
    EXPECT_EQ(disk.timeStamp, str("2"));

    // The root folder takes a new name too.
    js(str("folderProbe.select(0)"));
    dialog = start(str("fnRenameFolder()"), "/ktRenameNode.htm");
    answerName(*dialog, str("  My   notes "));
    finished();
    EXPECT_EQ(folder(0).value(str("name")).toString(), str("My notes"));
    EXPECT_EQ(readCollection(m_path).folders.value(str("0")).name, str("My notes"));
}

TEST_F(FolderOps, ADeleteRefusesTheRootAndTheSystemFolderAndSelectsANeighbour)
{
    startOn(5);
    const QString question = str("Are you sure that you want to delete this folder?\n\nThis will also delete all citations residing in it.");
    // No: nothing is deleted, and the list's selection is cleared.
    answer({{str("kind"), str("message")}, {str("answer"), str("cancel")}});
    js(str("folderProbe.select(2); const r = fnFrame('ktRightFrame').document.createRange();"
           " r.selectNodeContents(fnGetQuilletHolder()); fnFrame('ktRightFrame').getSelection().addRange(r); fnDeleteFolder()"));
    EXPECT_EQ(js(str("fnFrame('ktRightFrame').getSelection().rangeCount")).toInt(), 0);
    EXPECT_EQ(messages(), QStringList({question}));
    EXPECT_EQ(readCollection(m_path).timeStamp, str("1"));

    struct Case {
        int uin;
        const char *refusal; // nullptr: deleted
        int selectedAfter;
        QStringList goneFolders, listed; // listed: the fragments the list shows afterwards
    };
    const QList<Case> cases = {
        {1, "This is a system folder, which means that it cannot be deleted.", 1, {}, {str("101")}},
        {0, "Root folder cannot be deleted.", 0, {}, {}},
        {3, nullptr, 5, {str("3"), str("4")}, {}},          // the last of Work's folders: the one before it
        {5, nullptr, 2, {str("5")}, {str("201"), str("202")}}, // the only one left: Work, a leaf now
        {6, nullptr, 7, {str("6")}, {}},                    // the one after it
    };
    QString stamp = str("1");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.uin);
        const DiskCollection before = readCollection(m_path);
        js(QStringLiteral("folderProbe.select(%1); fnDeleteFolder()").arg(c.uin));
        const QStringList shown = messages().mid(messages().lastIndexOf(question));
        EXPECT_EQ(shown, c.refusal ? QStringList({question, str(c.refusal)}) : QStringList({question}));
        EXPECT_EQ(current(), QString::number(c.selectedAfter));
        QStringList listed;
        for (const QJsonValue uin : js(str("Array.from(fnGetQuilletHolder().querySelectorAll('table.Fragment'), (t) => t.getAttribute('UIN'))"))
                                        .toArray())
            listed << uin.toString();
        listed.sort();
        EXPECT_EQ(listed, c.listed);
        const DiskCollection after = readCollection(m_path);
        if (c.refusal) {
            EXPECT_EQ(after.timeStamp, before.timeStamp);
            EXPECT_FALSE(folder(c.uin).isEmpty());
            continue;
        }
        stamp = QString::number(stamp.toInt() + 1);
        EXPECT_EQ(after.timeStamp, stamp);
        QMap<QString, DiskFolder> expected = before.folders;
        for (const QString &gone : c.goneFolders) {
            expected.remove(gone);
            EXPECT_TRUE(folder(gone.toInt()).isEmpty()) << "gone from the tree";
        }
        EXPECT_EQ(after.folders, expected) << "exactly the folder with what it holds is gone";
    }
    EXPECT_EQ(folder(2).value(str("cls")).toString(), str("FolderNotExpandable"));
}

TEST_F(FolderOps, AMoveIsRefusedForTheRootTheSystemFolderAndIntoItselfItsChildOrItsParent)
{
    startOn(3);
    js(str("folderProbe.select(0); fnMoveFolder(); folderProbe.select(1); fnMoveFolder()"));
    EXPECT_EQ(messages(), QStringList({str("Currently selected folder is the root folder of the database.\n\nIt cannot be moved."),
                                       str("Currently selected folder is a system folder, which means that it cannot be moved.")}));

    js(str("folderProbe.select(3)"));
    auto dialog = start(str("fnMoveFolder()"), "/ktMoveToFolder.htm");
    EXPECT_EQ(dialog->evaluate(str("[document.title, document.getElementById('ctlLabel').textContent,"
                                   " getComputedStyle(document.getElementById('ctlMakeCopy')).display != 'none' &&"
                                   " document.getElementById('ctlMakeCopy').offsetParent !== null,"
                                   " document.querySelector('#ctlTree ul').GetCurrentNodeUIN(),"
                                   " document.querySelector('#ctlTree li[UIN=\"2\"]').className, parseInt(dialogWidth), parseInt(dialogHeight)]"))
                  .toArray(),
              QJsonArray({str("Select folder"), str("Please select a folder to move folder into:"), false, str("3"), str("FolderExpanded"),
                          267, 333}))
        << "the viewer's tree with its current folder and expansion";
    struct Refusal {
        int chosen;
        const char *message;
    };
    for (const Refusal &r : {Refusal{3, "Folder cannot be moved into itself.\n\nPlease select another folder."},
                             Refusal{2, "Folder is already a child of one you selected.\n\nPlease select another folder. "},
                             Refusal{4, "Folder cannot be moved into its child.\n\nPlease select another folder."},
                             Refusal{8, "Folder with the same name already exists under selected parent.\n\nPlease select another parent."}}) {
        SCOPED_TRACE(r.chosen);
        refuse(*dialog, r.chosen);
        EXPECT_EQ(messages().last(), str(r.message));
        EXPECT_TRUE(isOpen(*dialog)) << "the chooser stays open";
    }
    accept(*dialog, 7);
    finished();

    // Into the leaf: it opens, and the moved folder stays current with all it holds.
    EXPECT_EQ(folder(7).value(str("cls")).toString(), str("FolderExpanded"));
    EXPECT_EQ(folder(3).value(str("parent")).toString(), str("7"));
    EXPECT_EQ(folder(4).value(str("parent")).toString(), str("3"));
    EXPECT_EQ(current(), str("3"));
    DiskCollection disk = readCollection(m_path);
    EXPECT_EQ(disk.folders.value(str("3")).parent, str("7"));
    EXPECT_EQ(disk.folders.value(str("4")), (DiskFolder{str("Alpha"), str("3"), {str("401")}}));
    EXPECT_EQ(disk.timeStamp, str("2"));

    dialog = start(str("fnMoveFolder()"), "/ktMoveToFolder.htm");
    press(*dialog, "Cancel");
    finished();
    EXPECT_EQ(readCollection(m_path).timeStamp, str("2")) << "Cancel moves nothing";
}

TEST_F(FolderOps, TheChooserChecksFragmentMovesImportsAndExports)
{
    startOn(2);
    // The callers' own calls; external and internal collection are the open one here.
    const auto open = [this](const char *mode, const QString &more) {
        return start(QStringLiteral("showModalDialog('ktMoveToFolder.htm', Object.assign({XMLbase: goBase, TreeHTML:"
                                    " fnGetTreeHolder().innerHTML, nDialogMode: %1, sourceFolder: fnGetTree().GetCurrentNodeUIN()}, %2),"
                                    " 'help:no; resizable:no; status:no;')").arg(str(mode), more),
                     "/ktMoveToFolder.htm");
    };
    const char *label = "document.getElementById('ctlLabel').textContent + '|' + (document.getElementById('ctlMakeCopy').offsetParent !== null)";

    // Fragments: their own folder only as a copy.
    auto dialog = open("cmtfFragmentMove", str("{}"));
    EXPECT_EQ(dialog->evaluate(str(label)).toString(), str("Please select a folder to move citation into:|true"));
    refuse(*dialog, 2);
    EXPECT_EQ(messages().last(),
              str("The citation you selected already \nresides in the folder you selected.\n\nPlease select another folder."));
    dialog->evaluate(str("document.getElementById('ctlMakeCopy').click(); true"));
    press(*dialog, "OK");
    finished();
    EXPECT_EQ(js(str("folderProbe.result()")).toObject(), (QJsonObject{{str("oFolder"), str("2")}, {str("bMakeCopy"), true}}));

    const char *exchange = "Folder with the same name already exists under selected parent.\n\n"
                           "Either select another parent or rename conflicting folder and try again.";
    struct Case {
        const char *mode, *internalFolder, *label;
        int clash; // the external folder refused for its name
    };
    // Import: Other (8) already holds "projects ", so Projects (3) cannot come in; export:
    // Projects cannot go out into Other.
    for (const Case &c : {Case{"cmtfFolderImport", "8", "Please select a folder to import from:|false", 3},
                          Case{"cmtfFolderExport", "3", "Please select a folder to export to  :|false", 8}}) {
        SCOPED_TRACE(c.mode);
        dialog = open(c.mode, QStringLiteral("{sourceFolder: null, internalDB: goBase, externalDB: goBase, internalFolder: '%1'}")
                                  .arg(str(c.internalFolder)));
        EXPECT_EQ(dialog->evaluate(str(label)).toString(), str(c.label));
        refuse(*dialog, c.clash);
        EXPECT_EQ(messages().last(), str(exchange));
        EXPECT_TRUE(isOpen(*dialog));
        accept(*dialog, 7);
        finished();
        EXPECT_EQ(js(str("folderProbe.result()")).toObject(), (QJsonObject{{str("oFolder"), str("7")}, {str("bMakeCopy"), false}}));
    }
    // An internal folder that is not there.
    dialog = open("cmtfFolderImport", str("{internalDB: goBase, externalDB: goBase, internalFolder: '999'}"));
    refuse(*dialog, 7);
    EXPECT_EQ(messages().last(), str("Folder has not been found."));
    press(*dialog, "Cancel");
    finished();
    EXPECT_TRUE(js(str("folderProbe.result() === undefined")).toBool()) << "Cancel returns nothing";
}

TEST_F(FolderOps, AChangeAnotherInstanceSavedWhileADialogWasOpenIsHonouredAndNothingElseChanges)
{
    startOn(5);
    const QString modified = str("The file has been modified by another program.\nIt will be reloaded.");
    const ComPtr<Quillet> other = Quillet::create();
    // Another instance replaces `from` by `to` in the file, with the next stamp, and says so.
    const auto otherInstanceSaves = [&](const QByteArray &from, const QByteArray &to, int stamp) {
        QByteArray text = ScratchRegistry::readFile(m_path);
        EXPECT_TRUE(text.contains(from));
        const auto stampOf = [](int n) { return QByteArray("TimeStamp=\"" + QByteArray::number(n) + '"'); };
        text.replace(from, to).replace(stampOf(stamp - 1), stampOf(stamp));
        ScratchRegistry::writeFile(m_path, text);
        other->DoSendChangeNotification(m_path, -1);
        return text;
    };

    // A rename of a folder deleted meanwhile.
    auto dialog = start(str("fnRenameFolder()"), "/ktRenameNode.htm");
    QByteArray written = otherInstanceSaves("<TavTracker:ktNODE Name=\"Notes\" UIN=\"5\"/>", "", 2);
    answerName(*dialog, str("Renamed"));
    finished();
    EXPECT_EQ(messages(), QStringList({modified, str("Folder not found.")}));
    EXPECT_EQ(ScratchRegistry::readFile(m_path), written) << "the file stays as the other instance wrote it";
    EXPECT_TRUE(folder(5).isEmpty());
    EXPECT_EQ(js(str("[fnGetTreeHolder().textContent.includes('Renamed'), goBase.xml.includes('Renamed'),"
                     " fnFindFolderByUIN(goBase, 2).getAttribute('Name')].join()")).toString(),
              str("false,false,Work"));
    EXPECT_EQ(current(), str("0")) << "the reload falls back to the root folder";

    // A move into a folder that was moved below the moved one meanwhile.
    js(str("folderProbe.select(3)"));
    dialog = start(str("fnMoveFolder()"), "/ktMoveToFolder.htm");
    written = otherInstanceSaves("<TavTracker:ktNODE Name=\"Leaf\" UIN=\"7\"/>", "", 3);
    written = otherInstanceSaves("<TavTracker:ktNODE Name=\"Alpha\" UIN=\"4\">",
                                 "<TavTracker:ktNODE Name=\"Leaf\" UIN=\"7\"/><TavTracker:ktNODE Name=\"Alpha\" UIN=\"4\">", 4);
    accept(*dialog, 7);
    finished();
    EXPECT_EQ(messages().mid(2), QStringList({modified, str("Folder cannot be moved into its child.\n\nPlease select another folder.")}));
    EXPECT_EQ(ScratchRegistry::readFile(m_path), written);
    EXPECT_EQ(folder(7).value(str("parent")).toString(), str("3")) << "the tree shows the file";
    EXPECT_EQ(folder(3).value(str("parent")).toString(), str("2"));
}

} // namespace

// Folders exchanged between collection files end to end: the real viewer copies folders into and
// out of other files on disk, which are then read back by the page's own XML component.

#include "fragment_list_fixture.h"
#include "support/eventrecorder.h"

namespace {

class Exchange : public FragmentList {
protected:
    static QString literal(const QString &text)
    {
        return QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
    }
    // A saved collection's folders and fragments as "name(children...)", the system folder
    // marked "*"; and whether its identifiers are unique and below its counter.
    QJsonObject read(const QString &path)
    {
        return js(QStringLiteral(
                      "(() => { const d = fnCreateXMLctl(); d.load(%1);"
                      " const outline = (e) => { const kids = Array.from(e.children).map((c) => c.nodeName == cxbiFRAGMENT ? c.getAttribute('Name') : outline(c));"
                      "   const name = e.getAttribute('Name') + (e.getAttribute('IsUnsortedNode') == '1' ? '*' : '');"
                      "   return kids.length ? name + '(' + kids.join(', ') + ')' : name; };"
                      " const uins = d.selectNodes('//@UIN'); const values = Array.from({length: uins.length}, (_, i) => Number(uins[i].value));"
                      " return { outline: outline(fnGetDatabaseElement(d)), uins: values.join(),"
                      "   sound: new Set(values).size == values.length && Math.max(...values) < Number(d.documentElement.getAttribute('NextUIN')) }; })()")
                      .arg(literal(path)))
            .toObject();
    }
    QString outline(const QString &path) { return read(path).value(str("outline")).toString(); }

    // Runs the exchange command `call` with `path` answered as the other file and chooses the
    // folder named `folder` in the chooser, after `meanwhile` ran while it was open; the command's
    // result.
    bool exchange(const char *call, const QString &path, const char *folder, const char *current = nullptr,
                  const std::function<void()> &meanwhile = {})
    {
        answer({{str("kind"), str("file")}, {str("answer"), path}});
        auto chooser = openVisibilityDialog(call, "/ktMoveToFolder.htm");
        if (current) { // the folder the chooser starts on
            EXPECT_EQ(chooser->evaluate(str("goTree.GetCurrentNodeUIN()")).toVariant().toString(), str(current));
        }
        if (meanwhile)
            meanwhile();
        chooser->evaluate(QStringLiteral("Array.from(document.querySelectorAll('li > span')).find((s) => s.textContent.trim() == %1).click();"
                                         " setTimeout(() => document.getElementById('OK').click()); true")
                              .arg(literal(str(folder))));
        EXPECT_TRUE(js(str("window.dialogDone")).toBool());
        return js(str("window.dialogResult")).toBool();
    }
};

// How often the document's text names the folder "Parent".
const char kParents[] = "(goBase.xml.match(/Name=\"Parent\"/g) || []).length";

TEST_F(Exchange, AMailExportWritesTheCurrentFolderAsTheSystemFolderOfAFreshFile)
{
    startOnTestCollection(3);
    const QByteArray before = savedFile();
    const QString path = m_files.filePath(str("mailed.t-q"));
    EXPECT_TRUE(js(QStringLiteral("fnPerformImportExport(cixSendByMail, %1)").arg(literal(path))).toBool());
    const QJsonObject mailed = read(path);
    EXPECT_EQ(mailed.value(str("outline")).toString(), str("My Citations(Parent*(Child(Fragment 401, Fragment 402)))"));
    EXPECT_TRUE(mailed.value(str("sound")).toBool()) << mailed.value(str("uins")).toString().toStdString();
    EXPECT_FALSE(mailed.value(str("uins")).toString().contains(str("401"))) << "new identifiers from the file's own counter";
    EXPECT_EQ(savedFile(), before) << "the open collection is not changed";
}

TEST_F(Exchange, AnExportMakesTheOtherFileTellsItsViewersAndReloadsTheOpenOneUnderAnotherSpelling)
{
    startOnTestCollection(3);
    const QByteArray before = savedFile();
    // Into a file that does not exist yet: it is made, with the folder below its root.
    const QString other = m_files.filePath(str("Other.t-q"));
    ASSERT_TRUE(exchange("fnPerformImportExport(cixExport)", other, "My Citations"));
    EXPECT_EQ(outline(other), str("My Citations(Default Collection*, Parent(Child(Fragment 401, Fragment 402)))"));
    EXPECT_TRUE(read(other).value(str("sound")).toBool());

    // Another instance (one viewer runs per user; this one is a capture's helper) hears of the
    // next export into the other file.
    const ComPtr<Quillet> peer = Quillet::create();
    EventRecorder heard(peer.get());
    ASSERT_TRUE(exchange("fnPerformImportExport(cixExport)", other, "Default Collection"));
    EXPECT_TRUE(turnUntil([&] { return heard.events.contains(str("onfilechanged ") + other + str("|-1")); }, kViewerMs))
        << heard.events.join(u", ").toStdString();
    EXPECT_EQ(outline(other), str("My Citations(Default Collection*(Parent(Child(Fragment 401, Fragment 402))), "
                                  "Parent(Child(Fragment 401, Fragment 402)))"));
    EXPECT_EQ(savedFile(), before) << "an export leaves the open collection alone";

    // The open file under other spellings: one in other letter case is another file on this file
    // system (made afresh); one through "./" is the open file, which takes the copy and reloads.
    const QString otherCase = m_files.filePath(str("list.t-q"));
    ASSERT_TRUE(exchange("fnPerformImportExport(cixExport)", otherCase, "My Citations"));
    EXPECT_EQ(outline(otherCase), str("My Citations(Default Collection*, Parent(Child(Fragment 401, Fragment 402)))"));
    EXPECT_EQ(savedFile(), before);
    ASSERT_TRUE(exchange("fnPerformImportExport(cixExport)", m_files.path() + str("/./List.t-q"), "Default Collection"));
    EXPECT_EQ(QString::fromUtf8(savedFile()).count(str("Name=\"Parent\"")), 2);
    EXPECT_EQ(js(str(kParents)).toInt(), 2) << "the viewer shows the file it saved";
    const QString create = str("\nThis file does not exist.\nDo you want to create it?");
    EXPECT_EQ(messages(), QStringList({str("Other.t-q") + create, str("list.t-q") + create})) << "asked once for each new file";
}

TEST_F(Exchange, AnImportCopiesFragmentsBeforeSubfoldersWithTheOpenFilesIdentifiers)
{
    // The other file names a current folder that is not there, and its subfolder comes before
    // its fragments; one fragment has no date.
    const QString theirs = m_files.filePath(str("Theirs.t-q"));
    const QByteArray written =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root xmlns:TavTracker=\"http://www.tavrelo.com/tracker/\" TimeStamp=\"4\" "
        "NextUIN=\"3\" dbversion=\"1.0\"><TavTracker:ktDATABASE Name=\"Theirs\" IsDatabase=\"-1\" UIN=\"0\" CurrentNode=\"77\">"
        "<TavTracker:ktNODE Name=\"Default Collection\" UIN=\"1\" IsUnsortedNode=\"1\"/><TavTracker:ktNODE Name=\"Source\" UIN=\"5\">"
        "<TavTracker:ktNODE Name=\"Sub\" UIN=\"6\"><TavTracker:ktFRAGMENT UIN=\"7\" Name=\"deep\" CreationDate=\"0000000000001000\"/>"
        "</TavTracker:ktNODE><TavTracker:ktFRAGMENT UIN=\"8\" Name=\"undated\" Text=\"u\"/><TavTracker:ktFRAGMENT UIN=\"9\" "
        "Name=\"dated\" CreationDate=\"0000000000002000\"/></TavTracker:ktNODE></TavTracker:ktDATABASE></root>";
    ScratchRegistry::writeFile(theirs, written);
    startOnTestCollection(4);
    const QByteArray before = savedFile();

    // A file that is not there.
    answer({{str("kind"), str("file")}, {str("answer"), m_files.filePath(str("Missing.t-q"))}});
    EXPECT_FALSE(js(str("fnPerformImportExport(cixImport)")).toBool());
    EXPECT_EQ(messages(), QStringList({str("Failed to load file.")}));
    EXPECT_EQ(savedFile(), before);

    // The chooser starts on the root; the copy goes into the current folder.
    ASSERT_TRUE(exchange("fnPerformImportExport(cixImport)", theirs, "Source", "0"));
    EXPECT_EQ(outline(m_path).section(str("Parent("), 1, 1).section(str("), Sorting"), 0, 0),
              str("Child(Fragment 401, Fragment 402, Source(undated, dated, Sub(deep)))"));
    const QJsonObject mine = read(m_path);
    EXPECT_TRUE(mine.value(str("sound")).toBool());
    EXPECT_TRUE(mine.value(str("uins")).toString().contains(str(",402,700,701,702,703,704,"))) << "in copy order, from the open file's counter";
    const QString saved = QString::fromUtf8(savedFile());
    EXPECT_FALSE(QRegularExpression(str("<[^>]*Name=\"undated\"[^>]*CreationDate")).match(saved).hasMatch()) << "no date is made up";
    EXPECT_FALSE(saved.contains(str("Theirs"))) << "the other file's root is not copied";
    EXPECT_EQ(ScratchRegistry::readFile(theirs), written) << "the other file is only read";
    EXPECT_TRUE(js(str("fnGetTreeHolder().textContent.includes('Source')")).toBool()) << "the viewer shows the import";
}

// Another program changes a file while the user chooses the folder: the copy is made from what
// both files hold at the time of the copy, and the other program's change is kept.
TEST_F(Exchange, AChangeMadeWhileTheFolderIsChosenIsKept)
{
    const QString other = m_files.filePath(str("Other.t-q"));
    ScratchRegistry::writeFile(other, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root xmlns:TavTracker=\"http://www.tavrelo.com/tracker/\" "
                                      "TimeStamp=\"3\" NextUIN=\"3\" dbversion=\"1.0\"><TavTracker:ktDATABASE Name=\"Theirs\" "
                                      "IsDatabase=\"-1\" UIN=\"0\"><TavTracker:ktNODE Name=\"Default Collection\" UIN=\"1\" "
                                      "IsUnsortedNode=\"1\"/><TavTracker:ktNODE Name=\"Target\" UIN=\"2\"/></TavTracker:ktDATABASE></root>");
    startOnTestCollection(4);
    // Replaces `from` by `to` in the file and advances its stamp, as another instance's save does.
    const auto changeOutside = [](const QString &path, const char *from, const char *to) {
        return [=] {
            QString text = QString::fromUtf8(ScratchRegistry::readFile(path));
            ASSERT_TRUE(text.contains(str(from)));
            text.replace(str(from), str(to));
            const QRegularExpressionMatch stamp = QRegularExpression(str("TimeStamp=\"(\\d+)\"")).match(text);
            ASSERT_TRUE(stamp.hasMatch());
            text.replace(stamp.capturedStart(1), stamp.capturedLength(1), QString::number(stamp.captured(1).toInt() + 100));
            ScratchRegistry::writeFile(path, text.toUtf8());
        };
    };
    const struct {
        const char *call;
        QString path;
        const char *folder, *from, *to;
        QString file; // the file that holds both changes
        QStringList holds; // parts of its outline, each as often as listed
    } cases[] = {
        {"fnPerformImportExport(cixImport)", m_path, "Sorting", "Name=\"Beta\"", "Name=\"Beta 2\"", m_path,
         {str("Child(Fragment 401, Fragment 402, Sorting(Beta 2, Alpha, Delta, Charlie))"), str("Sorting(Beta 2, Alpha"),
          str("Sorting(Beta 2, Alpha")}},
        {"fnPerformImportExport(cixExport)", m_path, "Hostile", "Name=\"Fragment 401\"", "Name=\"Fragment 401b\"", m_path,
         {str("Child(Fragment 401b, Fragment 402, Sorting(Beta 2, Alpha, Delta, Charlie))"),
          str("Child(Fragment 401b, Fragment 402, Sorting(Beta 2, Alpha, Delta, Charlie))")}},
        {"fnPerformImportExport(cixExport)", other, "Target", "Name=\"Default Collection\"", "Name=\"Unsorted\"", other,
         {str("Theirs(Unsorted*, Target(Child(Fragment 401b, Fragment 402, Sorting(Beta 2, Alpha, Delta, Charlie))))")}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.call) + " into " + c.path.toStdString());
        ASSERT_TRUE(exchange(c.call, c.path, c.folder, nullptr, changeOutside(c.path, c.from, c.to)));
        const QString saved = outline(c.file);
        for (const QString &part : c.holds)
            EXPECT_EQ(saved.count(part), c.holds.count(part)) << saved.toStdString();
        EXPECT_TRUE(read(c.file).value(str("sound")).toBool());
    }
    EXPECT_EQ(messages().count(str("The file has been modified by another program.\nIt will be reloaded.")), 2);
    EXPECT_EQ(js(str("(goBase.xml.match(/Fragment 401b/g) || []).length")).toInt(), 2) << "the viewer shows the file";
}

} // namespace

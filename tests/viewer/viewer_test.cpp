// The viewer end to end: the real Clipvane starts the real htahost on the viewer page of the
// helper library, with a private registry, runtime folder, home folder and user-interface test
// files. The viewer is watched from outside: the window's title through the DevTools list of
// pages, the settings in the registry, the collection files on disk, and file-open requests sent
// to it as another start of Clipvane would.

#include "support/viewerfixture.h"
#include "support/weston.h"

#include "ipc/endpoint.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cstdio>

#include <csignal>

using namespace tavrelo::helpers;

TEST_F(Viewer, StartedBareItOpensTheDefaultCollectionAndRecordsIt)
{
    startClipvane({});
    const QString title = waitForTitle([](const QString &t) { return t.endsWith(str(" - Tavrelo Clipvane")); });
    EXPECT_TRUE(title.endsWith(str("Clipvane.t-q - Tavrelo Clipvane"))) << title.toStdString();
    const QString defaultPath = m_home.filePath(str("Clipvane.t-q"));
    EXPECT_EQ(setting("LastFile"), defaultPath);
    EXPECT_EQ(setting("PreviousFile0"), defaultPath);
    EXPECT_FALSE(QFile::exists(defaultPath)) << "opening writes nothing";
    stopViewer();
    EXPECT_TRUE(registryprobe::rawValue(tavrelo::registry::HKEY_CURRENT_USER,
                                        str("SOFTWARE\\Tavrelo\\Quillet\\Quillet"), str("WindowPos")))
        << "the window's place is kept";
}

// The X11 windows on this display that carry class hints: title -> (instance, class).
QMap<QString, std::pair<QString, QString>> classedWindows()
{
    QProcess xwininfo;
    xwininfo.start(str("xwininfo"), {str("-root"), str("-tree")});
    xwininfo.waitForFinished(10000);
    QMap<QString, std::pair<QString, QString>> windows;
    static const QRegularExpression line(str(R"re(^\s+0x[0-9a-f]+ "(.*)": \("([^"]*)" "([^"]*)"\))re"),
                                         QRegularExpression::MultilineOption);
    for (const QRegularExpressionMatch &m : line.globalMatch(QString::fromUtf8(xwininfo.readAllStandardOutput())))
        windows.insert(m.captured(1), {m.captured(2), m.captured(3)});
    return windows;
}

// Every window of ours names the desktop entry as its class: the splash (instance "Clipvane"),
// the viewer and a dialog of it (instance "htahost"), so that a dock matches them to it.
TEST_F(Viewer, ItsWindowsNameTheDesktopEntry)
{
    QProcess launcher;
    launcher.setProcessEnvironment(testEnvironment(m_devToolsPort));
    launcher.start(str(CLIPVANE_LAUNCHER), {});
    QMap<QString, std::pair<QString, QString>> seen;
    ASSERT_TRUE(turnUntil([&] {
        seen.insert(classedWindows());
        return launcher.state() == QProcess::NotRunning;
    }, kViewerMs));
    const QString title = waitForTitle([](const QString &t) { return t.endsWith(str(" - Tavrelo Clipvane")); });
    ASSERT_TRUE(m_devTools->attach(str("/TavTracker.hta")));
    m_devTools->evaluate(str("setTimeout(() => document.getElementById('ktTitleBar').contentDocument.body.click()); true"));
    DevToolsPage about(m_devToolsPort);
    ASSERT_TRUE(about.attach(str("/ktAbout.htm")));
    ASSERT_TRUE(turnUntil([&] { return classedWindows().size() > 1; }, kViewerMs));
    seen.insert(classedWindows());
    QSet<QString> instances;
    for (auto window = seen.cbegin(); window != seen.cend(); ++window) {
        EXPECT_EQ(window->second, str("tavrelo-clipvane")) << window.key().toStdString();
        instances << window->first;
    }
    EXPECT_EQ(instances, (QSet<QString>{str("Clipvane"), str("htahost")})) << "the splash, the viewer and its dialog";
    EXPECT_TRUE(seen.contains(title)) << title.toStdString();
}

TEST_F(Viewer, AQuotedPathIsOpenedUnrecordedAndClosingKeepsTheFolderQuietly)
{
    // The file names a folder that is gone: the viewer opens at the root folder, and closing
    // records that without a new time stamp.
    const QString path = writeCollection(str("My notes.t-q"), "TimeStamp=\"5\" NextUIN=\"3\" dbversion=\"1.0\"", "99");
    startClipvane({path});
    EXPECT_TRUE(waitForTitle([](const QString &t) { return t.contains(str("My notes.t-q")); }).endsWith(str(" - Tavrelo Clipvane")));
    EXPECT_EQ(setting("LastFile"), QString()) << "a file of the command line is not recorded";
    stopViewer();
    const QByteArray saved = ScratchRegistry::readFile(path);
    EXPECT_TRUE(saved.contains("CurrentNode=\"0\"")) << saved.toStdString();
    EXPECT_TRUE(saved.contains("TimeStamp=\"5\"")) << saved.toStdString();
}

TEST_F(Viewer, AFileHandedOverByAnotherStartIsOpenedAndRecorded)
{
    startClipvane({});
    waitForTitle([](const QString &t) { return t.endsWith(str(" - Tavrelo Clipvane")); });
    const QString other = writeCollection(str("Other notes.t-q"), "TimeStamp=\"1\" NextUIN=\"3\" dbversion=\"1.0\"", "2");
    std::int32_t delivered = 0, found = 0;
    QuilletHelpersRequestFileOpen(('"' + other + '"').toUtf8().constData(), &delivered, &found);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(delivered, 1);
    EXPECT_TRUE(waitForTitle([](const QString &t) { return t.contains(str("Other notes.t-q")); }).endsWith(str(" - Tavrelo Clipvane")));
    EXPECT_EQ(setting("LastFile"), other) << "quotes taken off, recorded";
}

TEST_F(Viewer, TheRecentFilesMenuOpensAnEntryAndTheListKeepsItsOrder)
{
    QStringList paths;
    for (int i = 1; i <= 6; ++i)
        paths << m_files.filePath(QStringLiteral("p%1.t-q").arg(i));
    using tavrelo::registry::HKEY_CURRENT_USER;
    const QString key = str("SOFTWARE\\Tavrelo\\Quillet\\Quillet");
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(registryprobe::setString(HKEY_CURRENT_USER, key, QStringLiteral("PreviousFile%1").arg(i), paths[i]));
    ASSERT_TRUE(registryprobe::setString(HKEY_CURRENT_USER, key, str("LastFile"), paths[0]));
    startClipvane({});
    waitForTitle([](const QString &t) { return t.contains(str("p1.t-q")); });
    ASSERT_TRUE(m_devTools->attach(str("/TavTracker.hta")));
    EXPECT_EQ(recentFiles(), paths.mid(0, 5)) << "opening the first entry changes nothing";

    answer({{str("kind"), str("menu")}, {str("answer"), 3}});
    m_devTools->evaluate(str("top.fnShowRecentList()"));
    EXPECT_TRUE(waitForTitle([](const QString &t) { return t.contains(str("p3.t-q")); }).contains(str("p3.t-q")));
    const QList<QJsonObject> menus = loggedRequests("menu");
    ASSERT_EQ(menus.size(), 1);
    const QJsonArray items = menus[0].value(str("items")).toArray();
    ASSERT_EQ(items.size(), 5);
    EXPECT_EQ(items[2].toObject().value(str("id")).toInt(), 3);
    EXPECT_EQ(recentFiles(), (QStringList{paths[2], paths[0], paths[1], paths[3], paths[4]})) << "the third moves to the front";

    // A sixth file pushes the oldest out; another case is another file.
    std::int32_t delivered = 0, found = 0;
    QuilletHelpersRequestFileOpen(paths[5].toUtf8().constData(), &delivered, &found);
    waitForTitle([](const QString &t) { return t.contains(str("p6.t-q")); });
    EXPECT_EQ(recentFiles(), (QStringList{paths[5], paths[2], paths[0], paths[1], paths[3]}));
    const QString upper = m_files.filePath(str("P1.t-q"));
    QuilletHelpersRequestFileOpen(upper.toUtf8().constData(), &delivered, &found);
    waitForTitle([](const QString &t) { return t.contains(str("P1.t-q")); });
    EXPECT_EQ(recentFiles(), (QStringList{upper, paths[5], paths[2], paths[0], paths[1]}));
}

TEST_F(Viewer, AnotherInstancesSaveReloadsAndAMissedOneIsCaughtAtTheNextChange)
{
    const QString path = writeCollection(str("Shared.t-q"), "TimeStamp=\"1\" NextUIN=\"3\" dbversion=\"1.0\"", "2");
    startClipvane({path});
    waitForTitle([](const QString &t) { return t.contains(str("Shared.t-q")); });
    ASSERT_TRUE(m_devTools->attach(str("/TavTracker.hta")));
    const auto hasFolder = [this](int uin) {
        return m_devTools->evaluate(QStringLiteral("!!top.fnGetTree().FindNodeByUIN(%1)").arg(uin)).toBool();
    };
    EXPECT_FALSE(hasFolder(3));

    // Another instance saves with a new stamp and says so.
    const auto rewrite = [&](const char *stamp, const char *folders) {
        QByteArray text = ScratchRegistry::readFile(path);
        const QByteArray before = "TimeStamp=\"" + QByteArray::number(QByteArray(stamp).toInt() - 1) + '"';
        const QByteArray after = "TimeStamp=\"" + QByteArray(stamp) + '"';
        const QByteArray end = "</TavTracker:ktDATABASE>";
        text.replace(before, after);
        text.replace(end, QByteArray(QByteArray(folders) + end));
        ScratchRegistry::writeFile(path, text);
    };
    rewrite("2", "<TavTracker:ktNODE Name=\"Added\" UIN=\"3\"/>");
    const ComPtr<Quillet> other = Quillet::create();
    other->DoSendChangeNotification(path, -1);
    EXPECT_TRUE(turnUntil([&] { return hasFolder(3); })) << "reloaded at once";
    EXPECT_EQ(m_devTools->evaluate(str("top.fnGetTree().GetCurrentNodeUIN()")).toString(), str("2"))
        << "the current folder stays current";

    // A change nobody was told of, on a file system that tells nothing of it either (no watch):
    // the next change finds it, says so and reads the file again.
    m_devTools->evaluate(str("__tavreloHost.watchFile('')"));
    rewrite("3", "<TavTracker:ktNODE Name=\"Unannounced\" UIN=\"4\"/>");
    EXPECT_EQ(m_devTools->evaluate(str("top.fnPrepareToChangeDatabase()")).toInt(), -1);
    const QList<QJsonObject> messages = loggedRequests("message");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].value(str("text")).toString(), str("The file has been modified by another program.\nIt will be reloaded."));
    EXPECT_TRUE(hasFolder(4));
    m_devTools->evaluate(str("top.fnSaveChangedDatabase()"));
    EXPECT_TRUE(ScratchRegistry::readFile(path).contains("TimeStamp=\"4\""));
}

// Another user, machine or program changes the file and tells nobody: the viewer sees it on
// disk and reads it again within a second or two, once per change, and not during an edit in
// place, which goes on undisturbed.
TEST_F(Viewer, AChangeOnDiskThatNobodyAnnouncedIsShownAndWaitsForAnEditInPlace)
{
    const QString path = writeCollection(str("Synced.t-q"), "TimeStamp=\"1\" NextUIN=\"3\" dbversion=\"1.0\"", "2");
    startClipvane({path});
    waitForTitle([](const QString &t) { return t.contains(str("Synced.t-q")); });
    ASSERT_TRUE(m_devTools->attach(str("/TavTracker.hta")));
    m_devTools->evaluate(str("window.reads = 0; const read = fnReadFileNow; fnReadFileNow = (...a) => { reads++; return read(...a); }; true"));
    const auto replaceFile = [&](const QByteArray &from, const QByteArray &to) { // as a sync program does: a new file renamed over it
        QByteArray text = ScratchRegistry::readFile(path);
        ScratchRegistry::writeFile(path + str(".sync"), text.replace(from, to));
        ASSERT_TRUE(std::rename(qPrintable(path + str(".sync")), qPrintable(path)) == 0);
    };
    const auto shows = [this](const char *text) {
        return turnUntil([&] { return m_devTools->evaluate(QStringLiteral("fnGetTreeHolder().textContent.includes('%1')").arg(str(text))).toBool(); },
                         2000);
    };
    replaceFile("<TavTracker:ktNODE Name=\"Work\" UIN=\"2\"/>",
                "<TavTracker:ktNODE Name=\"Synced work\" UIN=\"2\"><TavTracker:ktFRAGMENT UIN=\"5\" Name=\"Title\" Text=\"t\"/>"
                "</TavTracker:ktNODE>");
    EXPECT_TRUE(shows("Synced work"));
    EXPECT_EQ(m_devTools->evaluate(str("reads")).toInt(), 1) << "read once";
    EXPECT_TRUE(loggedRequests("message").isEmpty());

    // During an edit in place the change waits for the edit's end (Esc).
    ASSERT_TRUE(turnUntil([this] { return m_devTools->evaluate(str("!!fnGetQuilletHolder().querySelector('.ChangeButton')")).toBool(); }));
    m_devTools->evaluate(str("fnGetQuilletHolder().querySelector('.ChangeButton').click()"));
    ASSERT_TRUE(m_devTools->evaluate(str("fnIsEditingInPlace()")).toBool());
    replaceFile("Name=\"Synced work\"", "Name=\"Later work\"");
    EXPECT_TRUE(turnUntil([this] { return m_devTools->evaluate(str("gbCheckAfterEdit")).toBool(); }, 2000));
    EXPECT_EQ(m_devTools->evaluate(str("reads")).toInt(), 1) << "not during the edit";
    for (const char *type : {"rawKeyDown", "keyUp"})
        m_devTools->call(str("Input.dispatchKeyEvent"), {{str("type"), str(type)}, {str("key"), str("Escape")},
                                                         {str("code"), str("Escape")}, {str("windowsVirtualKeyCode"), 27}});
    EXPECT_TRUE(shows("Later work"));
    EXPECT_EQ(m_devTools->evaluate(str("reads")).toInt(), 2);
}

// A collection large enough to be parsed in the background (6 MiB and more) opens whole, with
// identifiers for its elements that had none; nothing changes any collection while it is read,
// and an open asked for meanwhile follows it.
TEST_F(Viewer, ALargeCollectionIsReadInTheBackgroundAndAnOpenAskedMeanwhileFollows)
{
    const QString small = writeCollection(str("Small.t-q"), "TimeStamp=\"1\" NextUIN=\"3\" dbversion=\"1.0\"", "2");
    const QString large = writeLargeCollection(str("Large.t-q"));
    const QByteArray text = ScratchRegistry::readFile(large);

    startClipvane({small});
    waitForTitle([](const QString &t) { return t.contains(str("Small.t-q")); });
    ASSERT_TRUE(m_devTools->attach(str("/TavTracker.hta")));
    // While the large file is parsed: whether a collection is open, what a change gets, and an
    // open of the small one; and each collection as it is shown.
    m_devTools->evaluate(QStringLiteral(R"JS(
      window.during = null; window.shown = [];
      const read = fnCheckedInitializeFileAsync, show = fnShowReadCollection;
      fnCheckedInitializeFileAsync = (...a) => {
        const parsing = read(...a);
        if (!during) {
          during = { open: gbCollectionOpen, change: fnPrepareToChangeDatabase() };
          fnLoadFile('%1');
        }
        return parsing;
      };
      fnShowReadCollection = (...a) => {
        show(...a);
        shown.push([gsCurrentPath.replace(/.*\//, ''), goBase.selectNodes('//@UIN').length, fnGetTreeHolder().textContent]);
      };
      fnLoadFile('%2'); true)JS").arg(small, large));
    ASSERT_TRUE(turnUntil([this] { return m_devTools->evaluate(str("shown.length == 2 && !gbLoadingInBackground")).toBool(); }, 60000));
    const QJsonArray shown = m_devTools->evaluate(str("shown")).toArray();
    EXPECT_EQ(shown[0].toArray()[0].toString(), str("Large.t-q"));
    EXPECT_EQ(shown[0].toArray()[1].toInt(), kLargeFragments + 2) << "every fragment has its identifier";
    EXPECT_TRUE(shown[0].toArray()[2].toString().contains(str("Big folder")));
    EXPECT_EQ(shown[1].toArray()[0].toString(), str("Small.t-q")) << "the later open comes last";
    EXPECT_EQ(m_devTools->evaluate(str("JSON.stringify(during)")).toString(), str(R"({"open":false,"change":0})"));
    EXPECT_TRUE(loggedRequests("message").isEmpty());
    EXPECT_EQ(ScratchRegistry::readFile(large), text) << "nothing was written";
    EXPECT_TRUE(turnUntil([this] { return m_devTools->evaluate(str("document.title")).toString().contains(str("Small.t-q")); }));

    // Asked for again while it is read (as a watch reports one change more than once), a file
    // that is still the one just read is read once.
    m_devTools->evaluate(QStringLiteral("window.reads = 0; const again = fnReadFileNow; fnReadFileNow = (...a) => { reads++; return again(...a); };"
                                        "fnLoadFile('%1', true); fnLoadFile('%1', true); true").arg(large));
    ASSERT_TRUE(turnUntil([this] { return m_devTools->evaluate(str("shown.length >= 3 && !gbLoadingInBackground")).toBool(); }, 60000));
    EXPECT_EQ(m_devTools->evaluate(str("reads")).toInt(), 1);

    // Replaced by a rename while it is read (the engine goes on reading the file it opened), it
    // is read again once that read has ended.
    m_devTools->evaluate(QStringLiteral(R"JS(
      window.replaced = false; const opening = fnCheckedInitializeFileAsync;
      fnCheckedInitializeFileAsync = (...a) => {
        const parsing = opening(...a);
        if (!replaced) {
          replaced = true;
          __tavreloHost.writeTextFile('%2', __tavreloHost.readTextFile('%1'));
        }
        return parsing;
      };
      fnLoadFile('%2', true); true)JS").arg(small, large));
    EXPECT_TRUE(turnUntil([this] { return m_devTools->evaluate(str("!gbLoadingInBackground && shown[shown.length - 1][0] == 'Large.t-q' &&"
                                                                    " shown[shown.length - 1][1] == shown[1][1]")).toBool(); }, 10000))
        << "the replaced file is shown, before the viewer's own look every 15 s";
}

TEST_F(Viewer, AFileThatIsNotWellFormedOpensAsANewCollectionAndIsKept)
{
    const QString path = m_files.filePath(str("Broken.t-q"));
    ScratchRegistry::writeFile(path, "<root><TavTracker:ktDATABASE");
    startClipvane({path});
    waitForTitle([](const QString &t) { return t.contains(str("Broken.t-q")); });
    EXPECT_EQ(QDir(m_files.path()).entryList({str("Broken.t-q.damaged-*")}).size(), 1) << "a copy is kept";
    EXPECT_EQ(ScratchRegistry::readFile(path), QByteArray("<root><TavTracker:ktDATABASE")) << "the file is untouched";
    const QList<QJsonObject> messages = loggedRequests("message");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].value(str("text")).toString().startsWith(str("The collection file\n\n")));
}

TEST_F(Viewer, TheShellReadsItsCommandLineAndPlacesTheFolderPane)
{
    using tavrelo::registry::HKEY_CURRENT_USER;
    const QString key = str("SOFTWARE\\Tavrelo\\Quillet\\Quillet");
    ASSERT_TRUE(registryprobe::setDword(HKEY_CURRENT_USER, key, str("LeftPanePercent"), 9800));
    startClipvane({});
    waitForTitle([](const QString &t) { return t.endsWith(str(" - Tavrelo Clipvane")); });
    ASSERT_TRUE(m_devTools->attach(str("/TavTracker.hta")));
    EXPECT_EQ(m_devTools->evaluate(str("document.getElementById('idVerticalFrameSet').cols")).toString(), str("20.2%,*"))
        << "9800 or more is 20 percent, and 0.2 more for an engine of version 5.5 or later";
    EXPECT_EQ(m_devTools->evaluate(str("JSON.stringify([fnFindParameter('a \\\"b c\\\" d', 1), "
                                       "fnFindParameter('a \\\"b c\\\"d e', 1), fnFindParameter('a ', 1), "
                                       "fnFindParameter('a', 1), fnFindParameter('a b', 0), fnFindParameter('a b', 2)])"))
                  .toString(),
              str("[\"b c\",\"b cd\",\"\",null,null,null]"));
    EXPECT_GT(m_devTools->evaluate(str("fnGetBrowserVersion()")).toDouble(), 5.5);
    EXPECT_TRUE(m_devTools->evaluate(str("document.title")).toString().endsWith(str(" - Tavrelo Clipvane")));
}

TEST_F(Viewer, AHiddenFolderPaneStaysHiddenAndComesBackWithItsWidth)
{
    using tavrelo::registry::HKEY_CURRENT_USER;
    const QString key = str("SOFTWARE\\Tavrelo\\Quillet\\Quillet");
    ASSERT_TRUE(registryprobe::setDword(HKEY_CURRENT_USER, key, str("LeftPaneHidden"), 1));
    ASSERT_TRUE(registryprobe::setDword(HKEY_CURRENT_USER, key, str("LeftPanePercent"), 3500));
    startClipvane({});
    waitForTitle([](const QString &t) { return t.endsWith(str(" - Tavrelo Clipvane")); });
    ASSERT_TRUE(m_devTools->attach(str("/TavTracker.hta")));
    const QString columns = str("document.getElementById('idVerticalFrameSet').cols");
    EXPECT_EQ(m_devTools->evaluate(columns).toString(), str("0%,*"));
    m_devTools->evaluate(str("fnToggleShowHideFoldersTree()"));
    EXPECT_EQ(m_devTools->evaluate(columns).toString(), str("35.2%,*")) << "shown again with the stored width";
    EXPECT_EQ(registryprobe::rawValue(HKEY_CURRENT_USER, key, str("LeftPaneHidden"))->second, QByteArray(4, '\0'));
}

TEST_F(Viewer, WithoutItsHelperObjectTheViewerSaysSoOnceAndCloses)
{
    using tavrelo::registry::HKEY_CLASSES_ROOT;
    ASSERT_EQ(tavrelo::registry::RegDeleteTree(HKEY_CLASSES_ROOT, "CLSID\\{C588106B-4E66-11D4-B7AB-00C0F04903DC}"),
              tavrelo::registry::ERROR_SUCCESS);
    startClipvane({});
    EXPECT_TRUE(turnUntil([this] { return !loggedRequests("message").isEmpty(); }, kViewerMs));
    EXPECT_TRUE(turnUntil([this] { return m_devTools->targets().isEmpty(); }, kViewerMs)) << "the window closed";
    const QList<QJsonObject> messages = loggedRequests("message");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].value(str("text")).toString(),
              str("There are no Tavrelo Helper object found.\n\nYou may need to reinstall the application"));
    EXPECT_EQ(setting("LastFile"), QString()) << "nothing was written to the settings";
    EXPECT_FALSE(registryprobe::rawValue(tavrelo::registry::HKEY_CURRENT_USER,
                                         str("SOFTWARE\\Tavrelo\\Quillet\\Quillet"), str("WindowPos")));
}

TEST_F(Viewer, TheWindowComesBackWhereItWasClosed)
{
    const QByteArray placement = storePlacement();
    using tavrelo::registry::HKEY_CURRENT_USER;
    const QString key = str("SOFTWARE\\Tavrelo\\Quillet\\Quillet");
    startClipvane({});
    waitForTitle([](const QString &t) { return t.endsWith(str(" - Tavrelo Clipvane")); });
    stopViewer();
    const auto saved = registryprobe::rawValue(HKEY_CURRENT_USER, key, str("WindowPos"));
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->second.mid(28, 16).toHex().toStdString(), placement.mid(28, 16).toHex().toStdString())
        << "restored at start, so closing stores the same rectangle";
}

// On Wayland (weston with a seat, on this test's X server) a client can neither read nor set its
// window's position: closing stores the size and keeps the position stored before.
TEST_F(Viewer, OnWaylandClosingKeepsThePositionItCouldNotRead)
{
    if (!Weston::available())
        GTEST_SKIP() << "weston or Qt's Wayland platform is not installed";
    Weston weston;
    ASSERT_TRUE(weston.start(kViewerMs));
    m_extraEnvironment.insert(weston.environment());

    const QByteArray placement = storePlacement();
    startClipvane({});
    waitForTitle([](const QString &t) { return t.endsWith(str(" - Tavrelo Clipvane")); });
    stopViewer();
    const auto saved = registryprobe::rawValue(tavrelo::registry::HKEY_CURRENT_USER,
                                               str("SOFTWARE\\Tavrelo\\Quillet\\Quillet"), str("WindowPos"));
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->second.mid(28, 16).toHex().toStdString(), placement.mid(28, 16).toHex().toStdString())
        << "the size as restored, the position as stored";
}

TEST_F(Viewer, OpenRecordsTheCurrentCollectionAndOpensTheChosenFile)
{
    startClipvane({});
    waitForTitle([](const QString &t) { return t.endsWith(str(" - Tavrelo Clipvane")); });
    ASSERT_TRUE(m_devTools->attach(str("/TavTracker.hta")));
    const QString chosen = writeCollection(str("Chosen.t-q"), "TimeStamp=\"7\" NextUIN=\"3\" dbversion=\"1.0\"", "2");
    answer({{str("kind"), str("file")}, {str("answer"), chosen}});
    m_devTools->evaluate(str("top.fnOpenFile()"));
    EXPECT_TRUE(waitForTitle([](const QString &t) { return t.contains(str("Chosen.t-q")); }).contains(str("Chosen.t-q")));
    const QList<QJsonObject> dialogs = loggedRequests("file");
    ASSERT_EQ(dialogs.size(), 1);
    EXPECT_EQ(dialogs[0].value(str("title")).toString(), str("Open"));
    EXPECT_EQ(setting("LastFile"), chosen);
    EXPECT_TRUE(QFile::exists(m_home.filePath(str("Clipvane.t-q")))) << "the collection left was recorded through a change";
    EXPECT_EQ(m_devTools->evaluate(str("top.fnGetTree().GetCurrentNodeUIN()")).toString(), str("2"));
}

TEST_F(Viewer, ADeclinedCollectionIsNeverWrittenAndNothingIsOpen)
{
    const QString declined = writeCollection(str("Old.t-q"), "TimeStamp=\"4\" NextUIN=\"3\" dbversion=\"0.9\"", "2");
    const QByteArray before = ScratchRegistry::readFile(declined);
    answer({{str("kind"), str("message")}, {str("answer"), str("cancel")}});
    startClipvane({declined});
    ASSERT_TRUE(turnUntil([this] { return !loggedRequests("message").isEmpty(); }, kViewerMs));
    ASSERT_TRUE(m_devTools->attach(str("/TavTracker.hta")));
    EXPECT_EQ(m_devTools->evaluate(str("fnGetTreeHolder().innerHTML")).toString(), QString()) << "no tree";
    EXPECT_EQ(m_devTools->evaluate(str("fnPrepareToChangeDatabase()")).toInt(), 0) << "nothing to change";

    // Switching to another file would save the declined one first.
    const QString other = writeCollection(str("Next.t-q"), "TimeStamp=\"1\" NextUIN=\"3\" dbversion=\"1.0\"", "2");
    std::int32_t delivered = 0, found = 0;
    QuilletHelpersRequestFileOpen(('"' + other + "\" \"" + m_files.filePath(str("Ignored.t-q")) + '"').toUtf8().constData(),
                                  &delivered, &found);
    waitForTitle([](const QString &t) { return t.contains(str("Next.t-q")); });
    EXPECT_EQ(setting("LastFile"), other) << "of several paths the first is opened";
    stopViewer();
    EXPECT_EQ(ScratchRegistry::readFile(declined), before) << "the declined file is untouched";
}

TEST_F(Viewer, AChangeThatFindsTheFileChangedActsOnTheReloadedDocument)
{
    const QString path = writeCollection(str("Shared.t-q"), "TimeStamp=\"1\" NextUIN=\"3\" dbversion=\"1.0\"", "2");
    startClipvane({path});
    waitForTitle([](const QString &t) { return t.contains(str("Shared.t-q")); });
    ASSERT_TRUE(m_devTools->attach(str("/TavTracker.hta")));
    EXPECT_EQ(m_devTools->evaluate(str("fnFrame('ktLeftFrame').fnGetFolderTreeUIN()")).toString(), str("2"))
        << "the current folder comes from the real tree";
    m_devTools->evaluate(str("fnGetTree().FindNodeByUIN('1').firstElementChild.click()"));
    EXPECT_EQ(m_devTools->evaluate(str("fnFrame('ktLeftFrame').fnGetFolderTreeUIN()")).toString(), str("1"));

    // The same file asked for again, in quotes, is the open one: nothing is saved.
    std::int32_t delivered = 0, found = 0;
    QuilletHelpersRequestFileOpen(('"' + path + '"').toUtf8().constData(), &delivered, &found);
    EXPECT_EQ(delivered, 1);
    EXPECT_TRUE(ScratchRegistry::readFile(path).contains("TimeStamp=\"1\""));

    QByteArray text = ScratchRegistry::readFile(path);
    text.replace("TimeStamp=\"1\"", "TimeStamp=\"2\"");
    text.replace("</TavTracker:ktDATABASE>", "<TavTracker:ktNODE Name=\"Outside\" UIN=\"3\"/></TavTracker:ktDATABASE>");
    ScratchRegistry::writeFile(path, text);
    // A change that holds the document it was given, as the store's change sequence does.
    EXPECT_EQ(m_devTools->evaluate(str(
                  "var oHeld = goBase; fnChangeCollection(fnGetHelperObject(), oHeld, gsCurrentPath, {"
                  " lockFailureMessage: 'x', reread: function () { fnLoadFile(gsCurrentPath); },"
                  " change: function (oBase) { fnGetDatabaseElement(oBase).setAttribute('Name', 'Changed'); },"
                  " currentFolderUIN: function () { return goCurrentFolderUIN; } }) + ',' + (oHeld === goBase)"))
                  .toString(),
              str("-1,true"));
    const QByteArray saved = ScratchRegistry::readFile(path);
    EXPECT_TRUE(saved.contains("Name=\"Outside\"")) << "the outside change is kept";
    EXPECT_TRUE(saved.contains("Name=\"Changed\"")) << "and this change is applied to it";
    EXPECT_TRUE(saved.contains("TimeStamp=\"3\""));
}

TEST_F(Viewer, TheRecentFilesMenuOpensBelowOpenAndAFailingMenuIsDestroyedAndReported)
{
    storePlacement(); // the window's content at 100,120 on the screen
    using tavrelo::registry::HKEY_CURRENT_USER;
    const QString key = str("SOFTWARE\\Tavrelo\\Quillet\\Quillet");
    const QString path = writeCollection(str("Menu.t-q"), "TimeStamp=\"1\" NextUIN=\"3\" dbversion=\"1.0\"", "2");
    ASSERT_TRUE(registryprobe::setString(HKEY_CURRENT_USER, key, str("PreviousFile0"), path));
    startClipvane({});
    waitForTitle([](const QString &t) { return t.endsWith(str(" - Tavrelo Clipvane")); });
    ASSERT_TRUE(m_devTools->attach(str("/TavTracker.hta")));
    m_devTools->evaluate(str("fnShowRecentList()"));
    const QList<QJsonObject> menus = loggedRequests("menu");
    ASSERT_EQ(menus.size(), 1);
    const QJsonObject corner = QJsonDocument::fromJson(m_devTools->evaluate(str(
        "var oFrame = document.getElementById('ktToolBars').getBoundingClientRect();"
        "var oButton = fnFrame('ktToolBars').document.getElementById('OpenButton').getBoundingClientRect();"
        "JSON.stringify({x: Math.round(oFrame.left + oButton.left), y: Math.round(oFrame.top + oButton.bottom)})"))
        .toString().toUtf8()).object();
    EXPECT_EQ(menus[0].value(str("x")).toInt(), 100 + corner.value(str("x")).toInt());
    EXPECT_EQ(menus[0].value(str("y")).toInt(), 120 + corner.value(str("y")).toInt());

    // A menu that fails while it is shown is destroyed, and the failure is told.
    EXPECT_EQ(m_devTools->evaluate(str(
                  "var oReal = fnGetHelperObject(), aCalls = [];"
                  "fnGetHelperObject = function () { return {"
                  " RegistryString: function (a, b, c) { return oReal.RegistryString(a, b, c); },"
                  " PopupMenuCreate: function () { aCalls.push('create'); oReal.PopupMenuCreate(); },"
                  " get PopupMenuHandle() { return oReal.PopupMenuHandle; },"
                  " PopupMenuAppendPathItem: function (a, b, c, d) { oReal.PopupMenuAppendPathItem(a, b, c, d); },"
                  " PopupMenuTrack: function () { throw new Error('no menu today'); },"
                  " PopupMenuDestroy: function (n) { aCalls.push('destroy'); oReal.PopupMenuDestroy(n); } }; };"
                  "try { fnShowRecentList(); } catch (e) { aCalls.push(e.message); }"
                  "fnGetHelperObject = function () { return oReal; }; aCalls.join()"))
                  .toString(),
              str("create,destroy"));
    const QList<QJsonObject> messages = loggedRequests("message");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].value(str("text")).toString(), str("Operation failed with the following error:\n\nno menu today"));
}

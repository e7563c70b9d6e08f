// The capture dialog as a browser starts it: htahost --dialog --menu-arguments on ktGrab.htm of
// the helper library, with a private registry, home and user-interface test files; through the
// native host, in a process of its own or in the standby a running viewer keeps; and as the
// viewer opens it for its own list. Each case reads the outcome from outside: the host's exit
// status, the collection file, the settings and the log of message boxes.

#include "support/viewerfixture.h"
#include "support/weston.h"

#include "ipc/capturedialog.h"

#include <QLocalSocket>
#include <QRegularExpression>

namespace {

constexpr int kDialogMs = 60000;

class Capture : public Viewer {
protected:
    void SetUp() override
    {
        Viewer::SetUp();
        QTcpServer probe; // the dialog's own DevTools port: a viewer may hold the fixture's
        probe.listen(QHostAddress::LocalHost);
        m_grabPort = probe.serverPort();
    }
    void TearDown() override
    {
        if (m_grab.state() != QProcess::NotRunning) {
            m_grab.kill();
            m_grab.waitForFinished(kDialogMs);
        }
        Viewer::TearDown();
    }

    // Starts the dialog on a captured window; with `ready`, waits until its folder tree shows.
    std::unique_ptr<DevToolsPage> startGrab(const QJsonObject &captured, bool ready = true)
    {
        const QString file = m_files.filePath(str("menu-arguments.json"));
        QFile json(file);
        EXPECT_TRUE(json.open(QIODevice::WriteOnly | QIODevice::Truncate));
        json.write(QJsonDocument(captured).toJson());
        json.close();
        m_grab.setProcessEnvironment(testEnvironment(m_grabPort));
        m_grab.setProcessChannelMode(QProcess::ForwardedChannels);
        m_grab.start(str(CLIPVANE_HTAHOST), {str("--dialog"), str("--menu-arguments"), file,
                                             str("res://") + str(HELPERS_LIBRARY) + str("/ktGrab.htm")});
        EXPECT_TRUE(m_grab.waitForStarted());
        return ready ? attachGrab() : nullptr;
    }
    // The dialog the viewer opens lives in the viewer's process, on the fixture's port.
    std::unique_ptr<DevToolsPage> attachGrab(quint16 port = 0)
    {
        auto dialog = std::make_unique<DevToolsPage>(port ? port : m_grabPort);
        EXPECT_TRUE(dialog->attach(str("/ktGrab.htm")));
        EXPECT_TRUE(waitForTree(*dialog)) << "the dialog shows its folder tree";
        return dialog;
    }
    static bool waitForTree(DevToolsPage &dialog, const char *folder = nullptr)
    {
        const QString script = QStringLiteral(
            "new Promise((r) => setTimeout(() => { try { const d = frames.ctlFoldersTree.document;"
            " r(document.readyState == 'complete' && !!d.getElementById('FoldersTree') && %1); } catch (e) { r(false); } }))")
            .arg(folder ? QStringLiteral("[...d.querySelectorAll('[name=FolderName]')].some((l) => l.textContent == '%1')").arg(str(folder))
                        : str("true"));
        return turnUntil([&] { return dialog.evaluate(script).toBool(); }, kDialogMs);
    }
    // Presses a key in the dialog's focused element, with the DevTools modifier bits (2 Ctrl).
    static void press(DevToolsPage &dialog, int modifiers = 0)
    {
        for (const char *type : {"rawKeyDown", "keyUp"})
            dialog.call(str("Input.dispatchKeyEvent"),
                        {{str("type"), str(type)}, {str("key"), str("Enter")}, {str("code"), str("Enter")},
                         {str("windowsVirtualKeyCode"), 13}, {str("modifiers"), modifiers}});
    }
    int grabExit()
    {
        // A dialog that has already ended (noticed while the events turned) is finished too.
        EXPECT_TRUE(m_grab.state() == QProcess::NotRunning || m_grab.waitForFinished(kDialogMs)) << "the dialog closes";
        return m_grab.exitStatus() == QProcess::NormalExit ? m_grab.exitCode() : -1;
    }
    // A native host as a browser starts it, sent one grab of `text`.
    void startNativeHost(QProcess &host, const QString &text)
    {
        host.setProcessEnvironment(testEnvironment(m_grabPort));
        host.start(str(NATIVE_HOST), {str("chrome-extension://pfhpkbcioilhppjlcenhmflbflekbhkf/")});
        ASSERT_TRUE(host.waitForStarted());
        const QByteArray body = QJsonDocument(QJsonObject{{str("command"), str("grab")}, {str("title"), str("Report\a 2026")},
                                                          {str("url"), str("https://example.org/\x1b" "a")},
                                                          {str("selectionType"), str("Text")}, {str("text"), text}})
                                    .toJson(QJsonDocument::Compact);
        const quint32 length = quint32(body.size());
        host.write(QByteArray(reinterpret_cast<const char *>(&length), sizeof length) + body);
    }
    // The host's one answer, once its input has ended and it has gone.
    static QJsonObject nativeAnswer(QProcess &host)
    {
        QByteArray answer;
        EXPECT_TRUE(turnUntil([&] { return (answer += host.readAllStandardOutput()).endsWith('}'); }, kDialogMs));
        host.closeWriteChannel();
        EXPECT_TRUE(host.waitForFinished(kDialogMs));
        return QJsonDocument::fromJson(answer.mid(4)).object();
    }
    // The process of the capture standby that says hello on this user's socket, once one other
    // than `other` does; 0 when none does in time.
    static qint64 standbyProcess(qint64 other = 0)
    {
        qint64 pid = 0;
        turnUntil([&] {
            QLocalSocket socket;
            socket.connectToServer(tavrelo::ipc::capturedialog::socketPath());
            if (!socket.waitForConnected(1000) || !socket.waitForReadyRead(1000))
                return false;
            pid = QJsonDocument::fromJson(socket.readLine()).object().value(str("pid")).toInteger();
            return pid != 0 && pid != other;
        }, kDialogMs);
        return pid != other ? pid : 0;
    }
    // True once the process has ended (a standby is started detached: nobody may reap it).
    static bool ended(qint64 pid)
    {
        const QByteArray stat = ScratchRegistry::readFile(QStringLiteral("/proc/%1/stat").arg(pid));
        const qsizetype name = stat.lastIndexOf(')');
        return name < 0 || stat.mid(name + 2, 1) == "Z";
    }
    // The sockets and files the process's descriptors from 3 on refer to, but for the engine's
    // own read-only ones (which each process opens for itself).
    static QSet<QString> openFiles(qint64 pid)
    {
        QSet<QString> files;
        const QString folder = QStringLiteral("/proc/%1/fd").arg(pid);
        for (const QString &fd : QDir(folder).entryList(QDir::Files | QDir::System)) {
            const QString target = QFileInfo(folder + u'/' + fd).symLinkTarget();
            if (fd.toInt() > 2 && !target.startsWith(u"/usr/"))
                files << target;
        }
        return files;
    }
    // Runs the viewer on a collection of its own and sets up the DevTools port of the standbys it
    // starts; the collection's path.
    QString startViewerWithStandby(const char *name)
    {
        QTcpServer probe; // a port just closed may be handed out again: not the fixture's or the dialog's
        do {
            probe.close();
            probe.listen(QHostAddress::LocalHost);
        } while (probe.serverPort() == m_grabPort || probe.serverPort() == m_devToolsPort);
        m_standbyPort = probe.serverPort();
        probe.close();
        m_extraEnvironment.insert(str("TAVRELO_STANDBY_REMOTE_DEBUGGING"), QStringLiteral("127.0.0.1:%1").arg(m_standbyPort));
        const QString path = writeCollection(str(name), "TimeStamp=\"1\" NextUIN=\"3\" dbversion=\"1.0\"", "2");
        EXPECT_TRUE(registryprobe::setValue(tavrelo::registry::HKEY_CURRENT_USER, str("SOFTWARE\\Tavrelo\\Quillet\\Quillet"),
                                            str("LastFile"), tavrelo::registry::REG_SZ, path.toUtf8()));
        startClipvane({path});
        waitForTitle([name](const QString &title) { return title.contains(str(name)); });
        return path;
    }
    QStringList messages() const
    {
        QStringList texts;
        for (const QJsonObject &request : loggedRequests("message"))
            texts << request.value(str("text")).toString();
        return texts;
    }
    // The fragments of a collection file, each as its attributes.
    static QList<QJsonObject> fragments(const QString &path)
    {
        QList<QJsonObject> found;
        const QString xml = QString::fromUtf8(ScratchRegistry::readFile(path));
        static const QRegularExpression element(str("<TavTracker:ktFRAGMENT([^>]*)/?>"));
        static const QRegularExpression attribute(str("(\\w+)=\"([^\"]*)\""));
        for (auto it = element.globalMatch(xml); it.hasNext();) {
            QJsonObject fragment;
            for (auto at = attribute.globalMatch(it.next().captured(1)); at.hasNext();) {
                const auto match = at.next();
                fragment.insert(match.captured(1), match.captured(2));
            }
            found << fragment;
        }
        return found;
    }
    static QJsonObject captured(const char *type, const char *text, const char *title = "Page",
                                const char *url = "https://example.org/a")
    {
        return {{str("title"), str(title)}, {str("url"), str(url)}, {str("selectionType"), str(type)}, {str("text"), str(text)}};
    }

    QProcess m_grab;
    quint16 m_grabPort = 0;
    quint16 m_standbyPort = 0;
};

TEST_F(Capture, NoTextToGrabClosesTheDialogAndStoresNothing)
{
    const struct {
        const char *name, *type, *text;
    } cases[] = {{"an image", "Control", ""}, {"an image with alternative text", "None", "alt"},
                 {"only white space", "Text", " \r\n\t \r\n  "}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        startGrab(captured(c.type, c.text), false);
        EXPECT_EQ(grabExit(), 2) << "failed";
        EXPECT_EQ(messages().last(), str("You should select some text to grab"));
    }
    EXPECT_EQ(messages().size(), 3);
    EXPECT_FALSE(QFile::exists(m_home.filePath(str("Clipvane.t-q"))));
    EXPECT_TRUE(setting("LastFile").isEmpty());
}

TEST_F(Capture, TheFirstGrabCreatesTheDefaultCollection)
{
    auto dialog = startGrab(captured("Text", "First paragraph\r\n\r\nSecond  paragraph ", "A\ttitle\r\nover <b>lines</b>",
                                     "https://example.org/p?q=<i>"));
    // Offered as text, on one line; the empty line between the paragraphs goes.
    EXPECT_EQ(dialog->evaluate(str("[edtTitle.value, edtBaseURL.value, edtFragment.value, ctlFileName.value, document.activeElement.id,"
                                   " document.title, !!document.querySelector('b, i')]")).toArray(),
              QJsonArray({str("A\ttitle over <b>lines</b>"), str("https://example.org/p?q=<i>"), str("First paragraph\nSecond paragraph"),
                          m_home.filePath(str("Clipvane.t-q")), str("edtComment"), str("Tavrelo Clipvane"), false}));
    // Ctrl+Enter breaks the comment's line; Enter stores.
    dialog->call(str("Input.insertText"), {{str("text"), str("one")}});
    press(*dialog, 2);
    dialog->call(str("Input.insertText"), {{str("text"), str("two")}});
    EXPECT_EQ(dialog->evaluate(str("edtComment.value")).toString(), str("one\ntwo"));
    press(*dialog);
    EXPECT_EQ(grabExit(), 0) << "stored";

    const QString path = m_home.filePath(str("Clipvane.t-q"));
    const QString xml = QString::fromUtf8(ScratchRegistry::readFile(path));
    EXPECT_TRUE(xml.contains(str("Name=\"My Citations\""))) << xml.toStdString();
    EXPECT_TRUE(xml.contains(str("Name=\"Default Collection\"")));
    const QList<QJsonObject> stored = fragments(path);
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored[0].value(str("UIN")).toString(), str("2"));
    EXPECT_EQ(stored[0].value(str("Name")).toString(), str("A title over &lt;b&gt;lines&lt;/b&gt;"));
    EXPECT_EQ(stored[0].value(str("Text")).toString(), str("First paragraph!BR/!Second paragraph"));
    EXPECT_EQ(stored[0].value(str("Comment")).toString(), str("one!BR/!two"));
    EXPECT_EQ(stored[0].value(str("BaseURL")).toString(), str("https://example.org/p?q=&lt;i&gt;"));
    EXPECT_TRUE(QRegularExpression(str("^\\d{16}$")).match(stored[0].value(str("CreationDate")).toString()).hasMatch());
    EXPECT_TRUE(xml.contains(QRegularExpression(str("ktDATABASE[^>]*CurrentNode=\"0\"")))) << "stored in the root folder";
    EXPECT_EQ(setting("LastFile"), path);
    EXPECT_EQ(recentFiles().first(), path);
    EXPECT_TRUE(messages().isEmpty());
}

// On a Wayland desktop (weston with a seat) the dialog opens with its text field focused and
// stores the grab.
TEST_F(Capture, OnWaylandTheDialogStoresTheGrab)
{
    if (!Weston::available())
        GTEST_SKIP() << "weston or Qt's Wayland platform is not installed";
    Weston weston;
    ASSERT_TRUE(weston.start(kDialogMs));
    m_extraEnvironment.insert(weston.environment());
    auto dialog = startGrab(captured("Text", "Seen on Wayland"));
    EXPECT_EQ(dialog->evaluate(str("document.activeElement.id")).toString(), str("edtComment"));
    press(*dialog);
    EXPECT_EQ(grabExit(), 0) << "stored";
    const QList<QJsonObject> stored = fragments(m_home.filePath(str("Clipvane.t-q")));
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored[0].value(str("Text")).toString(), str("Seen on Wayland"));
    EXPECT_TRUE(messages().isEmpty());
}

TEST_F(Capture, ChangesByOthersReloadTheDialogOrStopTheGrab)
{
    const QString path = writeCollection(str("shared.t-q"), "TimeStamp=\"4\" NextUIN=\"3\" dbversion=\"1.0\"", "2");
    startClipvane({path});
    waitForTitle([](const QString &title) { return title.contains(str("shared.t-q")); });
    ASSERT_TRUE(registryprobe::setValue(tavrelo::registry::HKEY_CURRENT_USER, str("SOFTWARE\\Tavrelo\\Quillet\\Quillet"),
                                        str("LastFile"), tavrelo::registry::REG_SZ, path.toUtf8()));
    auto dialog = startGrab(captured("Text", "kept"));
    EXPECT_EQ(dialog->evaluate(str("frames.ctlFoldersTree.document.querySelector('.FolderNameFocused').textContent")).toString(),
              str("Work")) << "opens on the folder used last";

    // The viewer saves a change: the dialog's tree follows at once.
    ASSERT_TRUE(m_devTools->attach(str("/TavTracker.hta")));
    EXPECT_TRUE(m_devTools->evaluate(str("fnPrepareToChangeDatabase() == ktfSuccess && (fnFindElementByUIN(goBase, '2').setAttribute('Name', 'Renamed'),"
                                         " fnSaveChangedDatabase(), true)")).toBool());
    EXPECT_TRUE(waitForTree(*dialog, "Renamed"));

    // A change nobody was told of: OK reloads and stores nothing, the next OK stores.
    QByteArray xml = ScratchRegistry::readFile(path);
    xml.replace("TimeStamp=\"5\"", "TimeStamp=\"9\"").replace("Name=\"Renamed\"", "Name=\"Quiet\"");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(xml);
    file.close();
    dialog->evaluate(str("OK.click()"));
    EXPECT_EQ(messages(), QStringList({str("The file has been modified by another program.\nIt will be reloaded.")}));
    EXPECT_TRUE(waitForTree(*dialog, "Quiet"));
    EXPECT_TRUE(fragments(path).isEmpty()) << "nothing stored";
    EXPECT_EQ(m_grab.state(), QProcess::Running) << "the dialog stays open";
    dialog->evaluate(str("setTimeout(() => OK.click()); true"));
    EXPECT_EQ(grabExit(), 0);
    ASSERT_EQ(fragments(path).size(), 1);
    EXPECT_EQ(fragments(path)[0].value(str("Text")).toString(), str("kept"));
    // The viewer shows it.
    EXPECT_TRUE(turnUntil([this] {
        return m_devTools->evaluate(str("fnGetQuilletHolder().querySelectorAll('table.Fragment').length")).toInt() == 1;
    }, kDialogMs));
}

// A large collection is read in the background; OK meanwhile stores nothing, and once its
// tree shows the grab goes into it.
TEST_F(Capture, OKWaitsForALargeCollectionReadInTheBackground)
{
    const QString path = writeLargeCollection(str("large.t-q"));
    ASSERT_TRUE(registryprobe::setValue(tavrelo::registry::HKEY_CURRENT_USER, str("SOFTWARE\\Tavrelo\\Quillet\\Quillet"),
                                        str("LastFile"), tavrelo::registry::REG_SZ, path.toUtf8()));
    auto dialog = startGrab(captured("Text", "into the large one"));
    EXPECT_TRUE(dialog->evaluate(QStringLiteral("LoadFile('%1'); const loading = gbLoadingInBackground; OK.click(); loading").arg(path)).toBool());
    EXPECT_TRUE(waitForTree(*dialog, "Big folder"));
    EXPECT_EQ(m_grab.state(), QProcess::Running) << "OK did nothing while the collection was read";
    EXPECT_EQ(ScratchRegistry::readFile(path).count("<TavTracker:ktFRAGMENT"), kLargeFragments) << "nothing stored";
    dialog->evaluate(str("setTimeout(() => OK.click()); true"));
    EXPECT_EQ(grabExit(), 0);
    const QList<QJsonObject> stored = fragments(path);
    ASSERT_EQ(stored.size(), kLargeFragments + 1);
    EXPECT_EQ(stored.last().value(str("Text")).toString(), str("into the large one"));
    EXPECT_TRUE(messages().isEmpty());
}

TEST_F(Capture, AFailedSaveKeepsTheDialogOpenAndSaysWhy)
{
    // No one may write there, not even root.
    const QString path = str("/proc/clipvane-capture-test.t-q");
    ASSERT_TRUE(registryprobe::setValue(tavrelo::registry::HKEY_CURRENT_USER, str("SOFTWARE\\Tavrelo\\Quillet\\Quillet"),
                                        str("LastFile"), tavrelo::registry::REG_SZ, path.toUtf8()));
    auto dialog = startGrab(captured("Text", "precious"));
    dialog->evaluate(str("edtComment.value = 'mine'; OK.click()"));
    ASSERT_EQ(messages().size(), 1);
    EXPECT_TRUE(messages()[0].contains(path)) << messages()[0].toStdString();
    EXPECT_EQ(m_grab.state(), QProcess::Running) << "the dialog stays open";
    EXPECT_EQ(dialog->evaluate(str("[edtFragment.value, edtComment.value]")).toArray(), QJsonArray({str("precious"), str("mine")}));
    // Pressed again, it fails the same way and has not piled up a second fragment in memory.
    dialog->evaluate(str("OK.click()"));
    EXPECT_EQ(messages().size(), 2);
    EXPECT_EQ(dialog->evaluate(str("goBase.selectNodes('//TavTracker:ktFRAGMENT').length")).toInt(), 0);
    EXPECT_TRUE(setting("LastFile") == path && setting("PreviousFile0").isEmpty() == false);
    dialog->evaluate(str("setTimeout(() => Cancel.click()); true"));
    EXPECT_EQ(grabExit(), 2) << "the grab failed";
}

TEST_F(Capture, ANewFolderIsSavedWithTheFragmentAndNotSelected)
{
    const QString path = writeCollection(str("folders.t-q"), "TimeStamp=\"1\" NextUIN=\"3\" dbversion=\"1.0\"", "0");
    ASSERT_TRUE(registryprobe::setValue(tavrelo::registry::HKEY_CURRENT_USER, str("SOFTWARE\\Tavrelo\\Quillet\\Quillet"),
                                        str("LastFile"), tavrelo::registry::REG_SZ, path.toUtf8()));
    const QByteArray before = ScratchRegistry::readFile(path);
    // Names the folder in the folder dialog that the capture dialog opens (and waits for): a fresh
    // one (its box still reads "New folder"), not the one just closed.
    auto name = [this](DevToolsPage &dialog, const char *typed, bool click = true) {
        if (click)
            dialog.evaluate(str("setTimeout(() => NewFolder.click()); true"));
        std::unique_ptr<DevToolsPage> folder;
        EXPECT_TRUE(turnUntil([&] {
            folder = std::make_unique<DevToolsPage>(m_grabPort);
            return folder->attach(str("/ktNewNode.htm")) &&
                   folder->evaluate(str("new Promise((r) => setTimeout(() => r(document.readyState == 'complete' &&"
                                        " !!document.getElementById('ctlName') && ctlName.value === 'New folder')))")).toBool();
        }, kDialogMs));
        folder->evaluate(QStringLiteral("ctlName.value = '%1'; setTimeout(() => OK.click()); true").arg(str(typed)));
    };
    const char *labels = "[...frames.ctlFoldersTree.document.querySelectorAll('[name=FolderName]')].map((l) => l.textContent +"
                         " (l.className == 'FolderNameFocused' ? '*' : '')).join(',')";

    // A name that differs from a sibling's only in case is refused and asked for again.
    auto dialog = startGrab(captured("Text", "into the root"));
    name(*dialog, "  work ");
    EXPECT_TRUE(turnUntil([this] { return messages().size() == 1; }, kDialogMs));
    EXPECT_EQ(messages(), QStringList({str("Folder with the same name already exists.\n\nPlease select another name.")}));
    name(*dialog, "New  one", false);
    EXPECT_TRUE(waitForTree(*dialog, "New one"));
    EXPECT_EQ(dialog->evaluate(str(labels)).toString(), str("Mine*,Default Collection,Work,New one")) << "the selection stays";
    // Cancel: the folder existed in the dialog only.
    dialog->evaluate(str("setTimeout(() => Cancel.click()); true"));
    EXPECT_EQ(grabExit(), 1);
    EXPECT_EQ(ScratchRegistry::readFile(path), before);

    // OK without choosing the new folder stores the fragment in its parent, and both are saved.
    dialog = startGrab(captured("Text", "into the root"));
    name(*dialog, "Fresh");
    EXPECT_TRUE(waitForTree(*dialog, "Fresh"));
    dialog->evaluate(str("setTimeout(() => OK.click()); true"));
    EXPECT_EQ(grabExit(), 0);
    const QString xml = QString::fromUtf8(ScratchRegistry::readFile(path));
    EXPECT_TRUE(xml.contains(QRegularExpression(str("<TavTracker:ktNODE[^>]*Name=\"Fresh\""))));
    EXPECT_TRUE(xml.contains(QRegularExpression(str("ktDATABASE[^>]*CurrentNode=\"0\"")))) << xml.toStdString();
    ASSERT_EQ(fragments(path).size(), 1);
    EXPECT_TRUE(xml.contains(QRegularExpression(str("UIN=\"2\"/>\\s*<TavTracker:ktNODE[^>]*Fresh[^>]*>\\s*</TavTracker:ktNODE>\\s*<TavTracker:ktFRAGMENT"))))
        << "the folder and then the fragment in the root folder";
}

TEST_F(Capture, CancelStoresNothing)
{
    auto dialog = startGrab(captured("Text", "dropped"));
    dialog->evaluate(str("setTimeout(() => Cancel.click()); true"));
    EXPECT_EQ(grabExit(), 1);
    EXPECT_FALSE(QFile::exists(m_home.filePath(str("Clipvane.t-q"))));
    EXPECT_TRUE(setting("LastFile").isEmpty());
}

TEST_F(Capture, TextGrabbedFromTheViewersOwnListHasNoAddress)
{
    const QString path = writeCollection(str("own.t-q"), "TimeStamp=\"1\" NextUIN=\"3\" dbversion=\"1.0\"", "1");
    QByteArray xml = ScratchRegistry::readFile(path);
    xml.replace("IsUnsortedNode=\"1\"/>", "IsUnsortedNode=\"1\"><TavTracker:ktFRAGMENT UIN=\"7\" Name=\"Old\" Text=\"Line one!BR/!Line two\""
                                          " Comment=\"\" BaseURL=\"https://example.org/\" CreationDate=\"0000001000000000\"/></TavTracker:ktNODE>");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(xml);
    file.close();
    ASSERT_TRUE(registryprobe::setValue(tavrelo::registry::HKEY_CURRENT_USER, str("SOFTWARE\\Tavrelo\\Quillet\\Quillet"),
                                        str("LastFile"), tavrelo::registry::REG_SZ, path.toUtf8()));
    startClipvane({path});
    waitForTitle([](const QString &title) { return title.contains(str("own.t-q")); });
    ASSERT_TRUE(m_devTools->attach(str("/TavTracker.hta")));
    ASSERT_TRUE(turnUntil([this] {
        return m_devTools->evaluate(str("fnGetQuilletHolder().querySelectorAll('table.Fragment').length")).toInt() == 1;
    }, kDialogMs));
    // The list's menu over a selection: the first entry grabs.
    answer({{str("kind"), str("menu")}, {str("answer"), 1}});
    m_devTools->evaluate(str("const f = fnFrame('ktRightFrame'), t = f.document.getElementById('FragmentText');"
                             " f.getSelection().selectAllChildren(t); setTimeout(() => t.dispatchEvent(new f.MouseEvent('contextmenu',"
                             " {bubbles: true, cancelable: true, clientX: 5, clientY: 5}))); true"));
    auto dialog = attachGrab(m_devToolsPort);
    const QList<QJsonObject> menus = loggedRequests("menu");
    ASSERT_EQ(menus.size(), 1);
    EXPECT_EQ(menus[0].value(str("items")).toArray().first().toObject().value(str("text")).toString(), str("Grab &Selected Text..."));
    EXPECT_EQ(dialog->evaluate(str("[edtBaseURL.value, edtFragment.value, edtTitle.value]")).toArray(),
              QJsonArray({str(""), str("Line one\nLine two"), str("Fragments")}));
    dialog->evaluate(str("setTimeout(() => OK.click()); true"));
    EXPECT_TRUE(turnUntil([&] { return fragments(path).size() == 2; }, kDialogMs));
    EXPECT_EQ(fragments(path)[1].value(str("BaseURL")).toString(), QString());
    EXPECT_TRUE(fragments(path)[1].contains(str("BaseURL")));
    EXPECT_TRUE(turnUntil([this] {
        return m_devTools->evaluate(str("fnGetQuilletHolder().querySelectorAll('table.Fragment').length")).toInt() == 2;
    }, kDialogMs)) << "the viewer reloads";
}

// What a browser hands over may hold characters a collection file cannot: a form feed copied
// from a PDF viewer, a bell in a title. Through the real native host and dialog, the capture is
// stored without them and the collection opens again whole.
TEST_F(Capture, ControlCharactersFromTheBrowserLeaveTheCollectionReadable)
{
    // No viewer runs: the dialog is a process of its own, on the port of the host's environment.
    QProcess host;
    startNativeHost(host, str("end of page one\f\vpage two\x01"));
    auto dialog = attachGrab();
    dialog->evaluate(str("setTimeout(() => OK.click()); true"));
    EXPECT_EQ(nativeAnswer(host), (QJsonObject{{str("ok"), true}, {str("outcome"), str("stored")}}));

    const QString path = m_home.filePath(str("Clipvane.t-q"));
    QProcess xmllint;
    xmllint.start(str("xmllint"), {str("--noout"), path});
    ASSERT_TRUE(xmllint.waitForFinished(kDialogMs));
    EXPECT_EQ(xmllint.exitCode(), 0) << xmllint.readAllStandardError().toStdString();
    ASSERT_EQ(fragments(path).size(), 1);
    const QJsonObject stored = fragments(path)[0];
    EXPECT_TRUE(stored.value(str("Text")).toString().startsWith(str("end of page one"))) << stored.value(str("Text")).toString().toStdString();
    EXPECT_TRUE(stored.value(str("Text")).toString().contains(str("page two")));
    EXPECT_EQ(stored.value(str("Name")).toString(), str("Report 2026"));
    EXPECT_EQ(stored.value(str("BaseURL")).toString(), str("https://example.org/a"));

    startClipvane({path});
    waitForTitle([](const QString &title) { return title.contains(str("Clipvane.t-q")); });
    ASSERT_TRUE(m_devTools->attach(str("/TavTracker.hta")));
    EXPECT_TRUE(turnUntil([this] {
        return m_devTools->evaluate(str("fnGetQuilletHolder().querySelectorAll('table.Fragment').length")).toInt() == 1;
    }, kDialogMs)) << "the viewer opens the collection with its fragment";
    EXPECT_TRUE(messages().isEmpty()) << messages().join(u'|').toStdString();
}

// With a viewer running, the browser's capture opens in the standby the viewer keeps ready (a
// process of its own, whose engine was up before the message), not in a dialog process the
// native host starts; it stores, and its process ends with the dialog. The viewer then keeps
// the next standby ready, and that one, never used, ends with the viewer.
TEST_F(Capture, WithAViewerRunningTheCaptureOpensInTheStandbyItKeeps)
{
    const QString path = startViewerWithStandby("kept.t-q");
    const qint64 first = standbyProcess();
    ASSERT_GT(first, 0) << "the viewer keeps a standby";
    // It outlives the viewer: it must hold nothing of the viewer's (its DevTools server, a lock).
    ASSERT_EQ(viewerWindows().size(), 1);
    const QSet<QString> shared = openFiles(first) & openFiles(viewerWindows()[0].section(u'-', 0, 0).toLongLong());
    EXPECT_TRUE(shared.isEmpty()) << QStringList(shared.values()).join(u' ').toStdString();
    QProcess host;
    startNativeHost(host, str("seen through the standby"));
    auto dialog = attachGrab(m_standbyPort);
    EXPECT_TRUE(DevToolsPage(m_grabPort).targets().isEmpty()) << "no dialog process was started";
    EXPECT_EQ(dialog->evaluate(str("document.visibilityState")).toString(), str("visible"));
    dialog->evaluate(str("setTimeout(() => OK.click()); true"));
    EXPECT_EQ(nativeAnswer(host), (QJsonObject{{str("ok"), true}, {str("outcome"), str("stored")}}));
    ASSERT_EQ(fragments(path).size(), 1);
    EXPECT_EQ(fragments(path)[0].value(str("Text")).toString(), str("seen through the standby"));
    EXPECT_TRUE(turnUntil([first] { return ended(first); }, kDialogMs)) << "the standby's process ends with its dialog";

    const qint64 next = standbyProcess(first);
    ASSERT_GT(next, 0) << "the viewer keeps the next standby ready";
    stopViewer();
    EXPECT_TRUE(turnUntil([next] { return ended(next); }, kDialogMs)) << "an unused standby ends with the viewer";
}

// A standby that dies under its dialog is a failure for the browser, never "stored" and never
// silence.
TEST_F(Capture, AStandbyThatDiesUnderTheDialogFailsTheCapture)
{
    startViewerWithStandby("doomed.t-q");
    const qint64 standby = standbyProcess();
    ASSERT_GT(standby, 0);
    QProcess host;
    startNativeHost(host, str("never stored"));
    auto dialog = attachGrab(m_standbyPort);
    ASSERT_EQ(::kill(pid_t(standby), SIGKILL), 0);
    const QJsonObject answer = nativeAnswer(host);
    EXPECT_EQ(answer.value(str("ok")), QJsonValue(false));
    EXPECT_EQ(answer.value(str("error")).toString(), str("the capture dialog ended abnormally"));
}

// Whoever reaches the user's socket gets a dialog only for a page of the application, with
// whole menu arguments: anything else is refused, opens nothing, and leaves the standby for the
// next capture.
TEST_F(Capture, AStandbyRefusesWhatADialogHostWouldRefuse)
{
    startViewerWithStandby("asked.t-q");
    const qint64 standby = standbyProcess();
    ASSERT_GT(standby, 0);
    const QString page = str("res://") + str(HELPERS_LIBRARY) + str("/ktGrab.htm");
    const QJsonObject whole = captured("Text", "asked");
    QJsonObject partial = whole;
    partial.remove(str("text"));
    const struct {
        const char *name;
        QJsonObject request;
        const char *refusal;
    } cases[] = {
        {"a web page", {{str("page"), str("https://example.org/ktGrab.htm")}, {str("menuArguments"), whole}}, "the page is not res://"},
        {"a page of a library not registered", {{str("page"), str("res:///bin/sh/ktGrab.htm")}, {str("menuArguments"), whole}},
         "the page is not one of the application's"},
        {"menu arguments without the text", {{str("page"), page}, {str("menuArguments"), partial}}, "the menu arguments are not"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QLocalSocket socket;
        socket.connectToServer(tavrelo::ipc::capturedialog::socketPath());
        ASSERT_TRUE(socket.waitForConnected(kDialogMs));
        socket.write(tavrelo::ipc::capturedialog::line(c.request));
        QByteArray said;
        EXPECT_TRUE(turnUntil([&] { return (said += socket.readAll()).count('\n') >= 2 || socket.state() != QLocalSocket::ConnectedState; }, kDialogMs));
        said += socket.readAll();
        const QJsonObject answer = QJsonDocument::fromJson(said.split('\n').value(1)).object();
        EXPECT_TRUE(answer.value(str("refused")).toString().startsWith(str(c.refusal))) << said.toStdString();
    }
    EXPECT_TRUE(DevToolsPage(m_standbyPort).targets().size() == 1) << "nothing opened beside the waiting window";
    EXPECT_EQ(standbyProcess(), standby) << "the same standby waits for the next capture";
}

} // namespace

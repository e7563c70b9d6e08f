// The toolbars end to end: the buttons' looks under real mouse events, every command button's
// command, printing to a PDF file, About and Help.

#include "fragment_list_fixture.h"

#include <QFileInfo>
#include <QProcess>

namespace {

class Toolbar : public FragmentList {
protected:
    void mouse(const char *type, const QJsonObject &at)
    {
        m_devTools->call(str("Input.dispatchMouseEvent"), {{str("type"), str(type)}, {str("x"), at.value(str("x"))},
                                                           {str("y"), at.value(str("y"))}, {str("button"), str("left")},
                                                           {str("clickCount"), 1}});
    }
    QJsonObject at(const char *button) { return js(QStringLiteral("listProbe.buttonAt('%1')").arg(str(button))).toObject(); }
    QString looks(const char *buttons) { return js(QStringLiteral("listProbe.looks(%1)").arg(str(buttons))).toString(); }
    // The engine follows the mouse a frame later: the looks are awaited.
    QString looksOnceSettled(const char *buttons, const char *expected)
    {
        turnUntil([&] { return looks(buttons) == str(expected); }, 5000);
        return looks(buttons);
    }
    void moveTo(const QJsonObject &point) { mouse("mouseMoved", point); }
    void click(const char *button)
    {
        const QJsonObject point = at(button);
        moveTo(point);
        mouse("mousePressed", point);
        mouse("mouseReleased", point);
    }
    static QJsonObject away() { return {{str("x"), 600}, {str("y"), 8}}; } // on the title bar's banner
};

TEST_F(Toolbar, ButtonsLightUpInPairsStayPressedWhileTheirMenuIsOpenAndRunOnRelease)
{
    const QString key = str("SOFTWARE\\Tavrelo\\Quillet\\Quillet");
    ASSERT_TRUE(registryprobe::setString(tavrelo::registry::HKEY_CURRENT_USER, key, str("PreviousFile0"), str("/nowhere/a.t-q")));
    startOnTestCollection(5);
    EXPECT_EQ(looksOnceSettled("'OpenButton', 'ShowPreviousFiles', 'PrintButton'", "flat flat flat"), str("flat flat flat"));
    // Either half of a pair lights up both.
    moveTo(at("ShowPreviousFiles"));
    EXPECT_EQ(looksOnceSettled("'OpenButton', 'ShowPreviousFiles'", "raised raised"), str("raised raised"));
    moveTo(at("PrintButton"));
    EXPECT_EQ(looksOnceSettled("'OpenButton', 'ShowPreviousFiles', 'PrintButton'", "flat flat raised"), str("flat flat raised"));
    moveTo(at("OpenButton"));
    EXPECT_EQ(looksOnceSettled("'OpenButton', 'ShowPreviousFiles'", "raised raised"), str("raised raised"));

    // While the recent-files menu is open both stay pressed; afterwards they look as the mouse says.
    js(str("var aLooks = [], oReal = fnGetHelperObject(); fnGetHelperObject = () => new Proxy(oReal, { get: (o, name) =>"
           " name == 'PopupMenuTrack' ? (...a) => { aLooks.push(listProbe.looks('OpenButton', 'ShowPreviousFiles')); return o.PopupMenuTrack(...a); }"
           " : typeof o[name] == 'function' ? o[name].bind(o) : o[name] }); true"));
    click("ShowPreviousFiles");
    ASSERT_EQ(loggedRequests("menu").size(), 1);
    EXPECT_EQ(js(str("aLooks.join()")).toString(), str("stuck stuck"));
    EXPECT_EQ(looksOnceSettled("'OpenButton', 'ShowPreviousFiles'", "raised raised"), str("raised raised"));
    moveTo(away());
    EXPECT_EQ(looksOnceSettled("'OpenButton', 'ShowPreviousFiles'", "flat flat"), str("flat flat"));

    // Pressed on a button and released elsewhere: nothing runs.
    const QJsonObject print = at("PrintButton");
    moveTo(print);
    mouse("mousePressed", print);
    EXPECT_EQ(looksOnceSettled("'PrintButton'", "sunken"), str("sunken"));
    moveTo(away());
    mouse("mouseReleased", away());
    EXPECT_TRUE(loggedRequests("print").isEmpty());
    EXPECT_EQ(looksOnceSettled("'PrintButton'", "flat"), str("flat"));

    // The filter button is down while the filter is off, up again once a folder is chosen.
    click("ktsFolderFilter");
    moveTo(away());
    EXPECT_FALSE(js(str("gbFilterByFolder")).toBool());
    EXPECT_EQ(looksOnceSettled("'ktsFolderFilter'", "sunken"), str("sunken"));
    js(str("listProbe.selectFolder(6)"));
    EXPECT_EQ(looksOnceSettled("'ktsFolderFilter'", "flat"), str("flat"));

    // With no recent files there is no menu, and the pair turns flat after a moment.
    ASSERT_TRUE(registryprobe::setString(tavrelo::registry::HKEY_CURRENT_USER, key, str("PreviousFile0"), QString()));
    click("ShowPreviousFiles");
    EXPECT_EQ(looksOnceSettled("'OpenButton', 'ShowPreviousFiles'", "stuck stuck"), str("stuck stuck"));
    EXPECT_EQ(looksOnceSettled("'OpenButton', 'ShowPreviousFiles'", "flat flat"), str("flat flat")) << "after half a second";
    EXPECT_EQ(loggedRequests("menu").size(), 1);
}

TEST_F(Toolbar, EveryCommandButtonRunsItsCommand)
{
    startOnTestCollection(5);
    struct Case {
        const char *button;
        const char *kind;      // the user-interface request it makes
        const char *expected;  // part of what that request shows
    };
    const Case cases[] = {
        {"PrintButton", "print", "Fragments"},
        {"ImportButton", "file", "Import"},
        {"ExportButton", "file", "Export"},
        {"HTMLExportButton", "file", "HTML files"},
        {"SendByMailButton", "message", "no default mail client"},
        {"ShowMailClientsButton", "message", "no compatible mail clients"},
        {"ktsMoveFragments", "message", "select at least one citation"},
        {"ktsDeleteFragments", "message", "select at least one citation"},
        {"ktsSortModes", "menu", ""},
        {"img[title=\"Help\"]", "open", "TKTHelp.html"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.button);
        const qsizetype before = loggedRequests(c.kind).size();
        js(QStringLiteral("listProbe.press('%1')").arg(str(c.button).replace(u'\'', str("\\'"))));
        const QList<QJsonObject> requests = loggedRequests(c.kind);
        ASSERT_EQ(requests.size(), before + 1);
        const QString shown = QString::fromUtf8(QJsonDocument(requests.last()).toJson());
        EXPECT_TRUE(shown.contains(str(c.expected))) << shown.toStdString();
    }
    // The list's own buttons: texts expand and collapse; the pane hides and comes back.
    js(str("listProbe.press('ktsExpandFragments')"));
    EXPECT_EQ(js(str("listProbe.expanded().every(Boolean)")).toBool(), true);
    js(str("listProbe.press('ktsCollapseFragments')"));
    EXPECT_EQ(js(str("listProbe.expanded().some(Boolean)")).toBool(), false);
    js(str("listProbe.press('ktsFoldersTreeShowHide')"));
    EXPECT_EQ(js(str("[fnIsFolderTreeVisible(), listProbe.button('ktsFoldersTreeShowHide').title].join()")).toString(),
              str("false,Show Folders Tree Pane"));
    js(str("listProbe.press('ktsFoldersTreeShowHide')"));
    EXPECT_TRUE(js(str("fnIsFolderTreeVisible()")).toBool());
}

// What fails inside a command is told by the command itself, as for every other command; and
// the visibility dialog loads both shared scripts once more when they did not arrive.
TEST_F(Toolbar, CommandsReportWhatFailsInsideThem)
{
    startOnTestCollection(1);
    const struct {
        const char *call, *broken; // the command, and a function it calls that fails
    } cases[] = {
        {"fnPerformSendByMail(sbmDefault)", "fnGetHelperObject"},
        {"fnHTMLExport()", "fnHasFragmentsBelow"},
        {"fnDeleteFragments(['101'])", "fnPrepareToChangeDatabase"},
        {"fnMoveFragments(['101'])", "fnGetTreeHolder"},
        {"fnChangeVisibilityOptions()", "fnShowVisibilityDialog"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.call);
        EXPECT_TRUE(js(QStringLiteral("(() => { const kept = window.%1; window.%1 = () => { throw new Error('%1 broke'); };"
                                      " try { %2; } finally { window.%1 = kept; } return true; })()")
                           .arg(str(c.broken), str(c.call)))
                        .toBool());
        EXPECT_EQ(messages().value(messages().size() - 1), str("Operation failed with the following error:\n\n") + str(c.broken) + str(" broke"));
    }
    EXPECT_TRUE(savedFile().contains("UIN=\"101\""));

    auto dialog = openVisibilityDialog("fnChangeVisibilityOptions()");
    EXPECT_TRUE(dialog->evaluate(str("window.fnStringRemoveOutterSpaces = undefined; new Promise((r) => { fnStart = () => "
                                     "r(fnStringRemoveOutterSpaces(' ') === '' && document.querySelectorAll('script[src=\"String.js\"]').length == 2);"
                                     " fnLoad(); })"))
                    .toBool());
    dialog->evaluate(str("setTimeout(() => document.getElementById('Cancel').click()); true"));
    EXPECT_TRUE(js(str("window.dialogDone")).toBool());
}

TEST_F(Toolbar, PrintWritesWholeFragmentsWithoutButtonsAndAboutShowsTheVersion)
{
    startOnTestCollection(2);
    js(str("listProbe.watch(() => {})")); // the list is complete
    const QString pdf = m_files.filePath(str("list.pdf"));
    answer({{str("kind"), str("print")}, {str("answer"), pdf}});
    js(str("listProbe.selectAcross(3, 4); listProbe.press('PrintButton')"));
    ASSERT_TRUE(turnUntil([&pdf] { return QFileInfo(pdf).size() > 0; }, kViewerMs));
    QProcess text;
    text.start(str("pdftotext"), {pdf, str("-")});
    ASSERT_TRUE(text.waitForFinished(30000));
    const QString printed = QString::fromUtf8(text.readAllStandardOutput());
    EXPECT_EQ(printed.count(str("Work text line a")), 45) << "every fragment, not just the selected ones";
    EXPECT_EQ(printed.count(str("\ne\nf\n")), 45) << "every text whole, down to its last line";
    QProcess images;
    images.start(str("pdfimages"), {str("-list"), pdf});
    ASSERT_TRUE(images.waitForFinished(30000));
    EXPECT_EQ(QString::fromUtf8(images.readAllStandardOutput()).trimmed().split(u'\n').size(), 2) << "no button images";

    // About, from a click on the title bar: the version, and Esc closes it.
    js(str("setTimeout(() => { document.getElementById('ktTitleBar').contentDocument.body.click(); window.aboutClosed = true; }); true"));
    DevToolsPage about(m_devToolsPort);
    ASSERT_TRUE(about.attach(str("/ktAbout.htm")));
    EXPECT_TRUE(turnUntil([&about] {
        return about.evaluate(str("document.getElementById('idVersion') && document.getElementById('idVersion').textContent"))
                   .toString() == str("1.0.23");
    }, kViewerMs));
    about.call(str("Input.dispatchKeyEvent"), {{str("type"), str("keyDown")}, {str("key"), str("Escape")},
                                               {str("code"), str("Escape")}, {str("windowsVirtualKeyCode"), 27}});
    EXPECT_TRUE(js(str("window.aboutClosed")).toBool());
}

} // namespace

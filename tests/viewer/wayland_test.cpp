// The viewer on a Wayland desktop: weston with a seat on the test's own X server, the real
// Clipvane and htahost on Qt's Wayland platform. What the programs ask of the compositor is read
// from their protocol log (WAYLAND_DEBUG), what the viewer does through the DevTools protocol.

#include "support/viewerfixture.h"
#include "support/weston.h"

#include <QRegularExpression>
#include <QSize>

namespace {

constexpr const char *kAttributes = "TimeStamp=\"1\" NextUIN=\"3\" dbversion=\"1.0\"";

class OnWeston : public Viewer {
protected:
    void SetUp() override
    {
        if (!Weston::available())
            GTEST_SKIP() << "weston or Qt's Wayland platform is not installed";
        Viewer::SetUp();
        ASSERT_TRUE(m_weston.start(kViewerMs));
        m_extraEnvironment.insert(m_weston.environment());
        m_extraEnvironment.insert(str("WAYLAND_DEBUG"), str("client"));
        m_outputLog = m_files.filePath(str("wayland.log"));
    }

    // The lines of the protocol log that match `pattern` ("-> " marks a request of ours).
    QList<QRegularExpressionMatch> logged(const char *pattern) const
    {
        QList<QRegularExpressionMatch> found;
        const QRegularExpression line(str(pattern), QRegularExpression::MultilineOption);
        for (auto it = line.globalMatch(QString::fromUtf8(ScratchRegistry::readFile(m_outputLog))); it.hasNext();)
            found << it.next();
        return found;
    }

    // Waits until the compositor gives a window its size, as it does to a maximised viewer (the
    // others it lets choose), and returns that size: the work area below weston's panel.
    QSize waitForMaximised() const
    {
        QList<QRegularExpressionMatch> sized;
        turnUntil([&] { return !(sized = logged(R"(xdg_toplevel@\d+\.configure\(([1-9]\d*), (\d+),)")).isEmpty(); }, kViewerMs);
        return sized.isEmpty() ? QSize() : QSize(sized.last().captured(1).toInt(), sized.last().captured(2).toInt());
    }

    Weston m_weston; // outlives the viewer, which the fixture ends first
};

} // namespace

// Every window names the desktop entry as its app id: the splash, the viewer and About. The
// recent-files menu opens as the viewer's popup and is chosen from with the keyboard; About opens
// as the viewer's dialog and closes again.
TEST_F(OnWeston, TheWindowsNameTheDesktopEntryAndTheMenuAndAboutOpen)
{
    const QString first = writeCollection(str("First.t-q"), kAttributes, "2");
    const QString second = writeCollection(str("Second.t-q"), kAttributes, "2");
    const QString key = str("SOFTWARE\\Tavrelo\\Quillet\\Quillet");
    for (const auto &[name, path] : {std::pair{"LastFile", first}, {"PreviousFile0", first}, {"PreviousFile1", second}})
        ASSERT_TRUE(registryprobe::setString(tavrelo::registry::HKEY_CURRENT_USER, key, str(name), path));
    m_removedEnvironment << str("TAVRELO_AUTOMATION"); // the menu is shown, not answered
    storePlacement(3); // maximised, so that the viewer's place on the output is known
    startClipvane({});
    waitForTitle([](const QString &t) { return t.contains(str("First.t-q")); });
    ASSERT_TRUE(m_devTools->attach(str("/TavTracker.hta")));
    ASSERT_TRUE(waitForMaximised().isValid());

    // A popup takes the keyboard and pointer with the serial of the click that opened it (weston
    // refuses a key's once the key is up): a click on the list first, then the menu as the arrow
    // opens it.
    ASSERT_TRUE(Weston::click(Weston::kWidth / 2, Weston::kHeight - 40));
    m_devTools->evaluate(str("setTimeout(() => fnShowRecentList()); true"));
    ASSERT_TRUE(turnUntil([this] { return !logged(R"(-> xdg_surface@\d+\.get_popup\()").isEmpty(); }, kViewerMs))
        << "the menu is a popup of the viewer";
    ASSERT_TRUE(Weston::press({str("Down"), str("Down"), str("Return")}));
    EXPECT_TRUE(waitForTitle([](const QString &t) { return t.contains(str("Second.t-q")); }).contains(str("Second.t-q")));

    m_devTools->evaluate(str("setTimeout(() => fnShowAbout()); true"));
    DevToolsPage about(m_devToolsPort);
    ASSERT_TRUE(about.attach(str("/ktAbout.htm")));
    ASSERT_TRUE(turnUntil([&] { return about.evaluate(str("document.title")).toString() == str("About Tavrelo Clipvane"); }, kViewerMs));
    about.evaluate(str("setTimeout(() => window.close()); true"));
    EXPECT_TRUE(turnUntil([this] { return m_devTools->targets().size() == 1; }, kViewerMs)) << "About closes";
    EXPECT_TRUE(m_devTools->evaluate(str("document.title")).toString().contains(str("Second.t-q"))) << "the viewer carries on";
    stopViewer();

    QStringList appIds;
    for (const QRegularExpressionMatch &m : logged(R"re(-> xdg_toplevel@\d+\.set_app_id\("([^"]*)"\))re"))
        appIds << m.captured(1);
    EXPECT_GE(appIds.size(), 3) << "the splash, the viewer and About";
    appIds.removeDuplicates();
    EXPECT_EQ(appIds, QStringList{str("tavrelo-clipvane")});
    EXPECT_FALSE(logged(R"(-> xdg_toplevel@\d+\.set_parent\(xdg_toplevel@)").isEmpty()) << "About belongs to the viewer";
}

// A second start hands its file to a viewer the user minimised. Weston 10 offers no activation
// and xdg-shell no way back from minimised (docs/viewer.md): the viewer opens the file without an
// error, and the second start shows no window of its own.
TEST_F(OnWeston, AFileHandedToAMinimisedViewerIsOpenedWithoutAnError)
{
    storePlacement(3); // maximised, the viewer's title bar lies along the top of the work area
    startClipvane({});
    waitForTitle([](const QString &t) { return t.endsWith(str(" - Tavrelo Clipvane")); });
    const QSize area = waitForMaximised();
    ASSERT_TRUE(area.isValid());
    const qsizetype minimised = logged(R"(-> xdg_toplevel@\d+\.set_minimized\(\))").size();
    // Qt's title bar is 30 pixels high; its minimise button, 18 wide, is centred 63 pixels in
    // from the window's right edge.
    ASSERT_TRUE(Weston::click(area.width() - 63, Weston::kHeight - area.height() + 15));
    ASSERT_TRUE(turnUntil([&] { return logged(R"(-> xdg_toplevel@\d+\.set_minimized\(\))").size() > minimised; }, kViewerMs))
        << "the viewer is minimised";

    const QString other = writeCollection(str("Other.t-q"), kAttributes, "2");
    m_outputLog = m_files.filePath(str("second.log"));
    // Started as a dock starts it: the token reaches the viewer, which has no use for it here.
    m_extraEnvironment.insert(str("XDG_ACTIVATION_TOKEN"), str("given-by-the-desktop"));
    startClipvane({other});
    EXPECT_TRUE(waitForTitle([](const QString &t) { return t.contains(str("Other.t-q")); }).contains(str("Other.t-q")));
    EXPECT_TRUE(loggedRequests("message").isEmpty()) << "no error";
    EXPECT_FALSE(logged(R"(-> wl_display@1\.get_registry\()").isEmpty()) << "the second start was on Wayland";
    EXPECT_TRUE(logged(R"(-> xdg_surface@\d+\.get_toplevel\()").isEmpty()) << "and showed no window";
}

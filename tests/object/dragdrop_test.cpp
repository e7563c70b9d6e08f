// DoRevokeDragDrop: the page's window, and every widget in it now or later, accepts no drops.

#include "support/testsite.h"
#include "support/widgetapplication.h"

#include "object/quillet.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

// A widget that takes every drag offered to it, as the engine's page views do.
class DropTarget final : public QWidget {
public:
    explicit DropTarget(QWidget *parent = nullptr) : QWidget(parent) { setAcceptDrops(true); }
    int offered = 0;

protected:
    void dragEnterEvent(QDragEnterEvent *event) override
    {
        ++offered;
        event->acceptProposedAction();
    }
    void dropEvent(QDropEvent *event) override
    {
        ++offered;
        event->acceptProposedAction();
    }
};

// Offers a drag (and a drop) to `target`; true when it was taken.
bool takesDrops(QWidget *target)
{
    QMimeData data;
    data.setText(QStringLiteral("dropped"));
    QDragEnterEvent enter(QPoint(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return enter.isAccepted() && drop.isAccepted();
}

class DragAndDrop : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ensureWidgetApplication();
    }
    ComPtr<Quillet> m_helper = Quillet::create();
};

}

TEST_F(DragAndDrop, theSitesWindowAndEverythingInItRefuseDropsFromNowOn)
{
    DropTarget window, other;
    auto *frame = new QWidget(&window);
    auto *view = new DropTarget(frame);
    TestSite site(true, view); // the lookup climbs from the site's window to its top-level window
    ASSERT_EQ(m_helper->SetSite(&site), S_OK);
    ASSERT_EQ(m_helper->DoRevokeDragDrop(), S_OK);
    EXPECT_FALSE(window.acceptDrops());
    EXPECT_FALSE(frame->acceptDrops());
    EXPECT_FALSE(view->acceptDrops());

    // A page view made later accepts drops itself, and is refused all the same.
    auto *later = new DropTarget(frame);
    EXPECT_TRUE(later->acceptDrops());
    EXPECT_FALSE(takesDrops(later));
    EXPECT_EQ(later->offered, 0);
    EXPECT_FALSE(takesDrops(&window));
    EXPECT_EQ(window.offered, 0);

    // Another window is left alone.
    EXPECT_TRUE(other.acceptDrops());
    EXPECT_TRUE(takesDrops(&other));
    EXPECT_EQ(other.offered, 2);
    ASSERT_EQ(m_helper->SetSite(nullptr), S_OK);
}

TEST_F(DragAndDrop, withoutAPageWindowNothingChanges)
{
    DropTarget window;
    window.setProperty("tavreloWindowClass", QStringLiteral("TavTracker"));
    EXPECT_EQ(m_helper->DoRevokeDragDrop(), S_OK) << "no site: no window, and the class is not looked up";
    TestSite noWindow(true, nullptr);
    ASSERT_EQ(m_helper->SetSite(&noWindow), S_OK);
    EXPECT_EQ(m_helper->DoRevokeDragDrop(), S_OK);
    ASSERT_EQ(m_helper->SetSite(nullptr), S_OK);
    EXPECT_TRUE(window.acceptDrops());
    EXPECT_TRUE(takesDrops(&window));
}

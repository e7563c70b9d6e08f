// How the helper object finds the window it serves: through its site, else by the window class
// name that the HTML Application host gives its windows.

#include "helperfixture.h"
#include "support/widgetapplication.h"
#include "support/testsite.h"

#include "automation/olewindow.h"
#include "object/quillet.h"

#include <QApplication>
#include <QWidget>

#include <atomic>
#include <memory>

namespace {

class HostWindowLookup : public RegisteredHelpers {
protected:
    static void SetUpTestSuite()
    {
        ensureWidgetApplication();
    }

    void SetUp() override
    {
        RegisteredHelpers::SetUp();
        m_helper = createHelper();
        m_tracker.setProperty("tavreloWindowClass", QStringLiteral("TavTracker"));
        m_other.setProperty("tavreloWindowClass", QStringLiteral("Clipvane"));
    }

    Quillet *quillet() const { return static_cast<Quillet *>(m_helper.get()); }
    HRESULT setSite(IUnknown *site) const
    {
        ComPtr<IObjectWithSite> withSite;
        EXPECT_EQ(m_helper.as(IID_IObjectWithSite, &withSite), S_OK);
        return withSite->SetSite(site);
    }
    HWND find(const QString &windowClass, HRESULT expected = S_OK)
    {
        HWND window = &m_unnamed; // anything but null
        EXPECT_EQ(quillet()->findHostWindow(windowClass, &window), expected);
        return window;
    }

    QWidget m_unnamed;
    QWidget m_other;
    QWidget m_tracker;
    ComPtr<IDispatch> m_helper;
};

} // namespace

TEST_F(HostWindowLookup, theSitesWindowWinsAndIsWalkedUpToItsTopLevelWindow)
{
    QWidget *frame = new QWidget(&m_other);
    QWidget *view = new QWidget(frame);
    TestSite site(true, view);
    ASSERT_EQ(setSite(&site), S_OK);
    EXPECT_EQ(find(QString()), &m_other);
    EXPECT_EQ(find(QStringLiteral("TavTracker")), &m_other); // the class is only a fallback

    void *kept = nullptr;
    ComPtr<IObjectWithSite> withSite;
    ASSERT_EQ(m_helper.as(IID_IObjectWithSite, &withSite), S_OK);
    ASSERT_EQ(withSite->GetSite(IID_IOleWindow, &kept), S_OK);
    EXPECT_EQ(kept, static_cast<void *>(static_cast<IOleInPlaceSite *>(&site)));
    site.Release();

    ASSERT_EQ(setSite(nullptr), S_OK);
    EXPECT_EQ(site.references(), 1u); // the object let go of it
    EXPECT_EQ(withSite->GetSite(IID_IUnknown, &kept), E_FAIL);
    EXPECT_EQ(find(QString(), E_FAIL), nullptr);
}

TEST_F(HostWindowLookup, withoutAWindowFromTheSiteTheClassNameFindsTheTopLevelWindow)
{
    EXPECT_EQ(find(QStringLiteral("tavtracker")), &m_tracker); // class names ignore case
    EXPECT_EQ(find(QStringLiteral("CLIPVANE")), &m_other);
    EXPECT_EQ(find(QStringLiteral("TavTrack"), E_FAIL), nullptr);
    EXPECT_EQ(find(QString(), E_FAIL), nullptr);

    TestSite noWindow(true, nullptr);
    ASSERT_EQ(setSite(&noWindow), S_OK);
    EXPECT_EQ(find(QStringLiteral("TavTracker")), &m_tracker);
    TestSite notInPlace(false, &m_other);
    ASSERT_EQ(setSite(&notInPlace), S_OK);
    EXPECT_EQ(find(QStringLiteral("TavTracker")), &m_tracker);
    ASSERT_EQ(setSite(nullptr), S_OK);
}

// The splash window on the off-screen platform: where it goes, what it paints over its picture,
// the artwork it is made of, and the ways it closes.

#include "launcher/splashwindow.h"

#include "launchertest.h"
#include "support/widgetapplication.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tavrelo::launcher;

namespace {

const QSize kBitmap(398, 246);

class Splash : public ::testing::Test {
protected:
    void SetUp() override
    {
        ensureWidgetApplication();
        qputenv("TAVRELO_RUNTIME_DIR", m_runtime.path().toUtf8());
        m_splash = SplashWindow::create();
        ASSERT_TRUE(m_splash);
    }
    void TearDown() override
    {
        m_splash.reset();
        qunsetenv("TAVRELO_RUNTIME_DIR");
    }

    QTemporaryDir m_runtime;
    std::unique_ptr<SplashWindow> m_splash;
};

}

TEST(SplashPosition, centredInTheWorkAreaAndNeverNegative)
{
    EXPECT_EQ(splashPosition({1280, 984}, kBitmap), QPoint(441, 369));
    EXPECT_EQ(splashPosition({1023, 767}, kBitmap), QPoint(312, 260)) << "halves truncated";
    EXPECT_EQ(splashPosition({1023, 767}, {399, 247}), QPoint(312, 260));
    EXPECT_EQ(splashPosition({397, 245}, kBitmap), QPoint(0, 0)) << "-1 is raised to 0";
    EXPECT_EQ(splashPosition({300, 400}, kBitmap), QPoint(0, 77));
    EXPECT_EQ(splashPosition({600, 100}, kBitmap), QPoint(101, 0));
    EXPECT_EQ(versionTextRect(kBitmap), QRect(10, 160, 348, 20));
}

TEST_F(Splash, isTheIndexedUncompressedBitmapPlacedInTheWorkArea)
{
    const QImage bitmap(QStringLiteral(":/launcher/splash.bmp"));
    EXPECT_EQ(bitmap.format(), QImage::Format_Indexed8);
    QFile file(QStringLiteral(":/launcher/splash.bmp"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.read(34).mid(28), QByteArray("\x08\0\0\0\0\0", 6)) << "8 bits a pixel, no compression";
    for (const int size : {16, 20, 32})
        EXPECT_EQ(QImage(QStringLiteral(":/launcher/clipvane-%1.png").arg(size)).size(), QSize(size, size));

    m_splash->showCentred();
    EXPECT_TRUE(m_splash->isVisible());
    EXPECT_EQ(m_splash->size(), kBitmap);
    EXPECT_EQ(m_splash->pos(), splashPosition(QGuiApplication::primaryScreen()->availableGeometry().size(), kBitmap));
    EXPECT_TRUE(m_splash->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(m_splash->windowType(), Qt::SplashScreen);

    // Without a picture there is no splash.
    EXPECT_FALSE(SplashWindow::create(m_runtime.filePath(QStringLiteral("missing.bmp"))));
    QFile empty(m_runtime.filePath(QStringLiteral("empty.bmp")));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    EXPECT_FALSE(SplashWindow::create(empty.fileName()));
}

TEST_F(Splash, versionLineIsPaintedRightAlignedInItsBox)
{
    const QImage painted = m_splash->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage bare = m_splash->bitmap().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(painted.size(), kBitmap);
    int changed = 0;
    int right = -1;
    int brightest = 0;
    for (int y = 0; y < kBitmap.height(); ++y) {
        for (int x = 0; x < kBitmap.width(); ++x) {
            const QRgb pixel = painted.pixel(x, y);
            if (pixel == bare.pixel(x, y))
                continue;
            ++changed;
            EXPECT_TRUE(y >= 160 && y < 180 && x >= 10) << "changed outside the box at " << x << "," << y;
            right = std::max(right, x);
            brightest = std::max({brightest, qRed(pixel), qGreen(pixel), qBlue(pixel)});
        }
    }
    EXPECT_GT(changed, 100) << "a line of text";
    EXPECT_LE(right, kBitmap.width() - 40 - 1);
    EXPECT_GE(right, kBitmap.width() - 40 - 6) << "right-aligned";
    EXPECT_GE(brightest, 200) << "light text on the dark ground";
    EXPECT_LE(brightest, 240) << "grey 240 at most, not white";
}

TEST_F(Splash, closesOnAKeyAMouseButtonOrTheViewersEnd)
{
    // Each must close it before the 3 s would have (the close message: see the process tests).
    QElapsedTimer shown;
    shown.start();
    bool closed = false;
    QObject::connect(m_splash.get(), &SplashWindow::closed, [&closed] { closed = true; });
    m_splash->showCentred();
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier);
    QCoreApplication::sendEvent(m_splash.get(), &key);
    EXPECT_TRUE(closed);
    EXPECT_FALSE(m_splash->isVisible());

    m_splash = SplashWindow::create();
    m_splash->showCentred();
    const QPointF where(200, 100);
    QMouseEvent click(QEvent::MouseButtonPress, where, m_splash->mapToGlobal(where), Qt::MiddleButton,
                      Qt::MiddleButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m_splash.get(), &click);
    EXPECT_TRUE(m_splash->isClosed());

    m_splash = SplashWindow::create();
    bool viewerEnded = false;
    m_splash->showCentred();
    m_splash->startWaiting([&viewerEnded] { return viewerEnded; });
    QCoreApplication::processEvents();
    EXPECT_FALSE(m_splash->isClosed());
    viewerEnded = true;
    EXPECT_TRUE(waitUntil([this] { return m_splash->isClosed(); }));
    EXPECT_LT(shown.elapsed(), kSplashTimeoutMs);
}

// Window placement: a real top-level widget on the offscreen platform is saved to and restored
// from a scratch registry, whose stored record is read back through the registry layer.

#include "support/scratchregistry.h"
#include "support/widgetapplication.h"
#include "support/testsite.h"

#include "object/quillet.h"
#include "registry/winreg.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <vector>

using namespace tavrelo::registry;

namespace {

const QString kModule = QStringLiteral("Quillet");
const QString kName = QStringLiteral("WindowPos");
const QString kClass = QStringLiteral("PlacementTestWindow");
constexpr const char *kModuleKey = "SOFTWARE\\Tavrelo\\Quillet\\Quillet";

using Record = std::array<std::int32_t, 11>;

QByteArray bytesOf(const Record &record)
{
    QByteArray bytes;
    for (const std::int32_t field : record) {
        const auto bits = static_cast<std::uint32_t>(field);
        for (int b = 0; b < 4; ++b)
            bytes.append(static_cast<char>(bits >> (8 * b)));
    }
    return bytes;
}

// A normal-window record with the given rectangle (right and bottom exclusive).
Record normalRecord(int left, int top, int right, int bottom)
{
    return {44, 0, 1, -1, -1, -1, -1, left, top, right, bottom};
}

// Processes events until the condition holds; false after five seconds without it.
bool waitUntil(const std::function<bool()> &condition)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > 5000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

class WindowPlacement : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureWidgetApplication(); }

    void SetUp() override { m_window.setProperty("tavreloWindowClass", kClass); }

    // The stored value as the registry layer reads it; `type` receives its type.
    static QByteArray stored(DWORD *type = nullptr)
    {
        HKEY key = nullptr;
        if (RegOpenKeyEx(HKEY_CURRENT_USER, kModuleKey, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
            return {};
        QByteArray data(256, '\0');
        DWORD size = static_cast<DWORD>(data.size());
        DWORD found = REG_NONE;
        const LONG error =
            RegQueryValueEx(key, kName.toUtf8().constData(), &found, reinterpret_cast<BYTE *>(data.data()), &size);
        RegCloseKey(key);
        if (error != ERROR_SUCCESS)
            return {};
        if (type)
            *type = found;
        data.truncate(static_cast<int>(size));
        return data;
    }
    static void store(const QByteArray &data, DWORD type = REG_BINARY)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, kModuleKey, KEY_WRITE, &key), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueEx(key, kName.toUtf8().constData(), type, reinterpret_cast<const BYTE *>(data.constData()),
                                static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    static std::vector<std::int32_t> fields(const QByteArray &bytes)
    {
        std::vector<std::int32_t> result;
        for (int i = 0; i + 4 <= bytes.size(); i += 4) {
            std::uint32_t bits = 0;
            for (int b = 0; b < 4; ++b)
                bits |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + b])) << (8 * b);
            result.push_back(static_cast<std::int32_t>(bits));
        }
        return result;
    }

    HRESULT save(const QString &windowClass = kClass) { return m_helper->SaveWindowPos(kModule, kName, windowClass); }
    HRESULT restore(const QString &windowClass = kClass)
    {
        return m_helper->RestoreWindowPos(kModule, kName, windowClass);
    }
    void showAt(const QRect &geometry)
    {
        m_window.showNormal();
        ASSERT_TRUE(waitUntil([&] { return m_window.windowState() == Qt::WindowNoState; }));
        m_window.setGeometry(geometry);
        ASSERT_TRUE(waitUntil([&] { return m_window.isVisible() && m_window.geometry() == geometry; }))
            << "shown at " << m_window.geometry().x() << "," << m_window.geometry().y();
    }
    void minimise()
    {
        m_window.showMinimized();
        ASSERT_TRUE(waitUntil([&] { return m_window.isMinimized(); }));
    }
    static QSize workArea() { return QGuiApplication::primaryScreen()->availableGeometry().size(); }

    ScratchRegistry m_registry;
    QWidget m_window;
    TestSite m_site{true, &m_window}; // outlives the helper, which may still hold it
    const ComPtr<Quillet> m_helper = Quillet::create();
};

} // namespace

TEST_F(WindowPlacement, aNormalWindowIsStoredAsTheRecordAndComesBackToItsRectangle)
{
    showAt({100, 80, 400, 300});
    ASSERT_EQ(save(), S_OK);
    DWORD type = REG_NONE;
    const QByteArray bytes = stored(&type);
    EXPECT_EQ(type, REG_BINARY);
    ASSERT_EQ(bytes.size(), 44);
    EXPECT_EQ(fields(bytes), (std::vector<std::int32_t>{44, 0, 1, -1, -1, -1, -1, 100, 80, 500, 380}));

    showAt({10, 20, 200, 150});
    EXPECT_EQ(restore(), S_OK);
    EXPECT_TRUE(waitUntil([&] { return m_window.geometry() == QRect(100, 80, 400, 300); }));
    EXPECT_FALSE(m_window.isMaximized());

    // Found through the page's site rather than the class name.
    ASSERT_EQ(m_helper->SetSite(&m_site), S_OK);
    showAt({30, 40, 250, 120});
    ASSERT_EQ(save(QStringLiteral("NoSuchClass")), S_OK); // the site wins over the class
    EXPECT_EQ(fields(stored()), (std::vector<std::int32_t>{44, 0, 1, -1, -1, -1, -1, 30, 40, 280, 160}));
    showAt({100, 80, 400, 300});
    EXPECT_EQ(m_helper->RestoreWindowPos(kModule, kName, QStringLiteral("NoSuchClass")), S_OK);
    EXPECT_TRUE(waitUntil([&] { return m_window.geometry() == QRect(30, 40, 250, 120); }));
    ASSERT_EQ(m_helper->SetSite(nullptr), S_OK);
}

TEST_F(WindowPlacement, aMaximisedWindowComesBackMaximisedAndUnmaximisesToItsRectangle)
{
    showAt({120, 90, 300, 200});
    m_window.showMaximized();
    ASSERT_TRUE(waitUntil([&] { return m_window.isMaximized() && m_window.geometry() != QRect(120, 90, 300, 200); }));
    ASSERT_EQ(save(), S_OK);
    EXPECT_EQ(fields(stored()), (std::vector<std::int32_t>{44, 2, 3, -1, -1, -1, -1, 120, 90, 420, 290}));

    showAt({5, 5, 100, 100});
    EXPECT_EQ(restore(), S_OK);
    EXPECT_TRUE(waitUntil([&] { return m_window.isMaximized(); }));
    m_window.showNormal();
    EXPECT_TRUE(waitUntil([&] { return !m_window.isMaximized() && m_window.geometry() == QRect(120, 90, 300, 200); }))
        << m_window.geometry().width() << "x" << m_window.geometry().height();

    // A minimised window is saved as normal, with the rectangle it returns to.
    showAt({60, 70, 320, 240});
    minimise();
    ASSERT_EQ(save(), S_OK);
    EXPECT_EQ(fields(stored()), (std::vector<std::int32_t>{44, 0, 1, -1, -1, -1, -1, 60, 70, 380, 310}));
    // So is one minimised from maximised.
    m_window.showNormal();
    m_window.showMaximized();
    ASSERT_TRUE(waitUntil([&] { return m_window.isMaximized() && !m_window.isMinimized(); }));
    minimise();
    ASSERT_TRUE(m_window.isMaximized()); // Qt keeps the state it returns to
    ASSERT_EQ(save(), S_OK);
    EXPECT_EQ(fields(stored()), (std::vector<std::int32_t>{44, 0, 1, -1, -1, -1, -1, 60, 70, 380, 310}));
}

TEST_F(WindowPlacement, aPlacementOffTheWorkAreaIsPulledBackOntoIt)
{
    const int w = workArea().width();
    const int h = workArea().height();
    struct Case {
        Record record;
        QRect expected;
    };
    const Case cases[] = {
        // Wholly right of the work area: flush with its right edge, no wider than it.
        {normalRecord(w + 100, 50, w + 400, 250), {w - 300, 50, 300, 200}},
        {normalRecord(w + 10, 50, 2 * w + 510, 250), {0, 50, w, 200}},
        // Right edge at or left of 0: at x = 0, the width kept up to the work area's.
        {normalRecord(-500, 40, -100, 240), {0, 40, 400, 200}},
        {normalRecord(-300, 40, 0, 240), {0, 40, 300, 200}},
        {normalRecord(-w - 700, 40, -100, 240), {0, 40, w, 200}},
        // The same below and above.
        {normalRecord(50, h + 20, 350, h + 220), {50, h - 200, 300, 200}},
        {normalRecord(50, h + 1, 350, 2 * h + 400), {50, 0, 300, h}},
        {normalRecord(50, -300, 350, -50), {50, 0, 300, 250}},
        {normalRecord(50, -200, 350, 0), {50, 0, 300, 200}},
        // Off both ways at once.
        {normalRecord(-400, h + 50, -100, h + 150), {0, h - 100, 300, 100}},
        // Partly on screen: left as stored.
        {normalRecord(-50, -20, 250, 180), {-50, -20, 300, 200}},
    };
    for (const Case &c : cases) {
        store(bytesOf(c.record));
        showAt({200, 150, 120, 90});
        EXPECT_EQ(restore(), S_OK);
        EXPECT_TRUE(waitUntil([&] { return m_window.geometry() == c.expected; }))
            << "stored " << c.record[7] << "," << c.record[8] << "," << c.record[9] << "," << c.record[10] << " gave "
            << m_window.geometry().x() << "," << m_window.geometry().y() << " " << m_window.geometry().width() << "x"
            << m_window.geometry().height();
    }
}

TEST_F(WindowPlacement, withoutAUsableValueAMinimisedWindowIsRestored)
{
    const QByteArray good = bytesOf(normalRecord(400, 300, 700, 500));
    Record wrongLength = normalRecord(400, 300, 700, 500);
    wrongLength[0] = 40;
    const std::vector<std::pair<QByteArray, DWORD>> unusable = {
        {good.left(40), REG_BINARY},                     // too short
        {good + QByteArray(4, '\0'), REG_BINARY},        // too long
        {good, REG_NONE + 7},                            // another type
        {good.left(4), REG_DWORD},                       // a number
        {bytesOf(wrongLength), REG_BINARY},              // length field not 44
    };

    showAt({20, 30, 200, 100});
    minimise();
    EXPECT_EQ(restore(), S_OK); // no module key at all
    EXPECT_TRUE(waitUntil([&] { return !m_window.isMinimized(); }));
    for (const auto &[data, type] : unusable) {
        store(data, type);
        showAt({20, 30, 200, 100});
        minimise();
        EXPECT_EQ(restore(), S_OK);
        EXPECT_TRUE(waitUntil([&] { return !m_window.isMinimized(); })) << data.size() << " bytes of type " << type;
        EXPECT_EQ(m_window.geometry(), QRect(20, 30, 200, 100));
    }

    // A null argument: the window is still restored, but the call fails.
    store(good);
    minimise();
    EXPECT_EQ(m_helper->RestoreWindowPos(QString(), kName, kClass), E_INVALIDARG);
    EXPECT_TRUE(waitUntil([&] { return !m_window.isMinimized(); }));
    minimise();
    EXPECT_EQ(m_helper->RestoreWindowPos(kModule, QString(), kClass), E_INVALIDARG);
    EXPECT_TRUE(waitUntil([&] { return !m_window.isMinimized(); }));
    ASSERT_EQ(m_helper->SetSite(&m_site), S_OK);
    minimise();
    EXPECT_EQ(m_helper->RestoreWindowPos(kModule, kName, QString()), E_INVALIDARG); // found by the site
    EXPECT_TRUE(waitUntil([&] { return !m_window.isMinimized(); }));
    EXPECT_EQ(m_window.geometry(), QRect(20, 30, 200, 100)); // the stored value was not applied
    ASSERT_EQ(m_helper->SetSite(nullptr), S_OK);

    // No window: nothing changes.
    minimise();
    EXPECT_EQ(restore(QStringLiteral("NoSuchClass")), E_INVALIDARG);
    EXPECT_EQ(m_helper->RestoreWindowPos(QString(), QString(), QString()), E_INVALIDARG);
    QCoreApplication::processEvents();
    EXPECT_TRUE(m_window.isMinimized());
    EXPECT_EQ(m_window.geometry(), QRect(20, 30, 200, 100));
}

TEST_F(WindowPlacement, savingWithoutAWindowOrWithANullArgumentStoresNothing)
{
    showAt({100, 80, 400, 300});
    EXPECT_EQ(save(QStringLiteral("NoSuchClass")), S_OK);
    EXPECT_EQ(m_helper->SaveWindowPos(QString(), kName, kClass), S_OK);
    EXPECT_EQ(m_helper->SaveWindowPos(kModule, QString(), kClass), S_OK);
    EXPECT_EQ(m_helper->SaveWindowPos(kModule, kName, QString()), S_OK);
    EXPECT_TRUE(stored().isNull());
    EXPECT_FALSE(QFile::exists(m_registry.userHive())); // not even the key was made

    // A value already there is left as it was.
    const QByteArray earlier = bytesOf(normalRecord(1, 2, 3, 4));
    store(earlier);
    EXPECT_EQ(save(QStringLiteral("NoSuchClass")), S_OK);
    ASSERT_EQ(m_helper->SetSite(&m_site), S_OK);
    EXPECT_EQ(m_helper->SaveWindowPos(kModule, kName, QString()), S_OK); // a window, but a null class
    ASSERT_EQ(m_helper->SetSite(nullptr), S_OK);
    EXPECT_EQ(stored(), earlier);
}

// Window placement: SaveWindowPos stores where the page's window stands, how big it is and
// whether it is maximised; RestoreWindowPos puts it back there, pulled onto the screen when it
// would lie off it.
//
// The stored value is the 44-byte Win32 WINDOWPLACEMENT record, REG_BINARY under
// HKEY_CURRENT_USER\SOFTWARE\Tavrelo\Quillet\<module>: eleven little-endian 32-bit integers
//
//     0 length (44)   4 flags (2 = restore to maximised)   8 show command (1 normal, 3 maximised)
//    12 minimised x, y   20 maximised x, y   28 normal left, top, right, bottom
//
// so that values written by either side read the same. The normal rectangle is the window's
// restored geometry in virtual-desktop coordinates with right and bottom exclusive (right =
// x + width). It is the client geometry (QWidget::geometry()), without the frame that the window
// manager adds: that is what QWidget::setGeometry() takes back, so a save and a restore return the
// window to the same place whatever frame the desktop draws. Qt knows no minimised or maximised
// icon positions; they are written as (-1, -1), "not set", and ignored on reading.

#include "quillet.h"
#include "settingskey.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <array>
#include <cstddef>

namespace tavrelo::helpers {

using namespace tavrelo::registry;

namespace {

constexpr DWORD kPlacementSize = 44;
constexpr std::int32_t kRestoreToMaximized = 2; // WPF_RESTORETOMAXIMIZED
constexpr std::int32_t kShowNormal = 1;         // SW_SHOWNORMAL
constexpr std::int32_t kShowMaximized = 3;      // SW_SHOWMAXIMIZED

// Field indexes of the record, in 32-bit integers.
enum Field : std::size_t {
    kLength,
    kFlags,
    kShowCommand,
    kMinX,
    kMinY,
    kMaxX,
    kMaxY,
    kLeft,
    kTop,
    kRight,
    kBottom,
    kFieldCount
};
static_assert(kFieldCount * 4 == kPlacementSize);

using Record = std::array<std::int32_t, kFieldCount>;
using Bytes = std::array<BYTE, kPlacementSize>;

Bytes encode(const Record &record)
{
    Bytes bytes{};
    for (std::size_t i = 0; i < kFieldCount; ++i) {
        const auto bits = static_cast<std::uint32_t>(record[i]);
        for (std::size_t b = 0; b < 4; ++b)
            bytes[i * 4 + b] = static_cast<BYTE>(bits >> (8 * b));
    }
    return bytes;
}

Record decode(const Bytes &bytes)
{
    Record record{};
    for (std::size_t i = 0; i < kFieldCount; ++i) {
        std::uint32_t bits = 0;
        for (std::size_t b = 0; b < 4; ++b)
            bits |= static_cast<std::uint32_t>(bytes[i * 4 + b]) << (8 * b);
        record[i] = static_cast<std::int32_t>(bits);
    }
    return record;
}

// Reads the stored record. It counts only when the value is REG_BINARY of exactly 44 bytes whose
// length field says 44; a longer value does not fit the buffer and fails the query.
bool readPlacement(HKEY key, const QString &name, Record *record)
{
    Bytes bytes{};
    bytes[0] = static_cast<BYTE>(kPlacementSize); // the length field, preset as for the system call
    DWORD type = REG_NONE;
    DWORD size = kPlacementSize;
    if (RegQueryValueEx(key, name.toUtf8().constData(), &type, bytes.data(), &size) != ERROR_SUCCESS ||
        size != kPlacementSize || type != REG_BINARY)
        return false;
    *record = decode(bytes);
    return (*record)[kLength] == static_cast<std::int32_t>(kPlacementSize);
}

// Takes a window out of the minimised state, as the system's "restore" command does: a window
// that was maximised before it was minimised comes back maximised. A window that is not
// minimised but maximised comes back to its normal size.
void restoreFallback(QWidget *window)
{
    const Qt::WindowStates state = window->windowState();
    if (state & Qt::WindowMinimized)
        window->setWindowState(state & ~Qt::WindowMinimized);
    else if (state & Qt::WindowMaximized)
        window->setWindowState(state & ~Qt::WindowMaximized);
    // Palettes are no concern of Qt; repainting the window is all that remains.
    window->update();
}

// Window coordinates and sizes are held within what a widget accepts, so that no stored number,
// however wild, overflows the arithmetic of QRect.
int boundCoordinate(std::int64_t value)
{
    return static_cast<int>(std::clamp<std::int64_t>(value, -QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
}

// Pulls a rectangle that lies wholly off the work area back onto it, in this order: one whose
// right (bottom) edge is at or before 0 moves to 0 keeping its width (height), one whose left
// (top) edge is beyond the work area's width (height) ends at that width (height); the width
// and height kept are at most the work area's. Only the work area's size counts, not its origin,
// as with the Windows placement this value shares.
QRect pullOntoWorkArea(const Record &record, const QSize &workArea)
{
    std::int64_t left = record[kLeft];
    std::int64_t top = record[kTop];
    std::int64_t right = record[kRight];
    std::int64_t bottom = record[kBottom];
    const std::int64_t width = workArea.width();
    const std::int64_t height = workArea.height();
    if (right <= 0) {
        right = std::min(right - left, width);
        left = 0;
    }
    if (bottom <= 0) {
        bottom = std::min(bottom - top, height);
        top = 0;
    }
    if (left > width) {
        const std::int64_t w = std::min(right - left, width);
        right = width;
        left = width - w;
    }
    if (top > height) {
        const std::int64_t h = std::min(bottom - top, height);
        bottom = height;
        top = height - h;
    }
    const int x = boundCoordinate(left);
    const int y = boundCoordinate(top);
    return {x, y, std::clamp(boundCoordinate(right - left), 0, QWIDGETSIZE_MAX),
            std::clamp(boundCoordinate(bottom - top), 0, QWIDGETSIZE_MAX)};
}

// Wayland lets a client neither read nor set where its windows are: only their size and state
// are the window's own there.
bool platformKnowsPositions()
{
    return !QGuiApplication::platformName().startsWith(u"wayland");
}

} // namespace

HRESULT Quillet::SaveWindowPos(const QString &module, const QString &name, const QString &windowClass)
{
    // Saving never fails for the page: whatever goes wrong, nothing is stored and S_OK returned.
    if (module.isNull() || name.isNull() || windowClass.isNull())
        return S_OK;
    HWND window = nullptr;
    if (FAILED(findHostWindow(windowClass, &window)) || !window)
        return S_OK;
    const tavrelo::registry::RegKey key(settings::openModuleKeyForWriting(settings::kScopeUserOnly, module));
    if (!key)
        return S_OK;

    // A window that is minimised is saved as normal, with the rectangle it will come back to.
    const Qt::WindowStates state = window->windowState();
    const bool maximized = (state & Qt::WindowMaximized) && !(state & Qt::WindowMinimized);
    QRect normal = window->geometry();
    if (state & (Qt::WindowMaximized | Qt::WindowFullScreen)) {
        // geometry() is the maximised (full-screen) one then; the restored one is kept apart.
        const QRect restored = window->normalGeometry();
        if (restored.isValid())
            normal = restored;
    }
    // Where the platform cannot tell the position, the one stored before stays: a position that
    // was never read is never written.
    if (!platformKnowsPositions()) {
        Record stored{};
        const tavrelo::registry::RegKey readable(settings::openModuleKeyForReading(settings::kScopeUserOnly, module));
        normal.moveTo(readable && readPlacement(readable.handle(), name, &stored) ? QPoint(stored[kLeft], stored[kTop]) : QPoint(0, 0));
    }
    Record record{};
    record[kLength] = static_cast<std::int32_t>(kPlacementSize);
    record[kFlags] = maximized ? kRestoreToMaximized : 0;
    record[kShowCommand] = maximized ? kShowMaximized : kShowNormal;
    record[kMinX] = record[kMinY] = record[kMaxX] = record[kMaxY] = -1;
    record[kLeft] = normal.x();
    record[kTop] = normal.y();
    record[kRight] = normal.x() + normal.width();
    record[kBottom] = normal.y() + normal.height();
    const Bytes bytes = encode(record);
    RegSetValueEx(key.handle(), name.toUtf8().constData(), REG_BINARY, bytes.data(), kPlacementSize);
    return S_OK;
}

HRESULT Quillet::RestoreWindowPos(const QString &module, const QString &name, const QString &windowClass)
{
    HWND window = nullptr;
    if (FAILED(findHostWindow(windowClass, &window)) || !window)
        return E_INVALIDARG; // nothing to act on: nothing changes
    if (module.isNull() || name.isNull() || windowClass.isNull()) {
        restoreFallback(window);
        return E_INVALIDARG;
    }
    Record record{};
    {
        const tavrelo::registry::RegKey key(settings::openModuleKeyForReading(settings::kScopeUserOnly, module));
        if (!key || !readPlacement(key.handle(), name, &record)) {
            restoreFallback(window);
            return S_OK;
        }
    }
    const QScreen *screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen) {
        restoreFallback(window);
        return S_OK;
    }

    // The flags matter to the system only for a minimised show command, which is never applied
    // here: the show command alone says whether the window comes back maximised.
    const bool maximized = record[kShowCommand] == kShowMaximized;
    const QRect normal = pullOntoWorkArea(record, screen->availableGeometry().size());

    // The rectangle is set while the window is in no special state, so that it becomes the normal
    // geometry; maximising afterwards keeps it as the size the window returns to.
    window->setWindowState(window->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
    window->setGeometry(normal);
    if (maximized)
        window->showMaximized();
    else
        window->showNormal();
    window->update();
    return S_OK;
}

} // namespace tavrelo::helpers

#pragma once

// The splash window: the launcher's picture with the version line, centred in the primary
// screen's work area, shown until the viewer says it is ready (a posted message to the splash's
// endpoint), a key or mouse button is pressed on it, 3 seconds have passed, or the viewer has
// ended.

#include "messaging/records.h"

#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class QPainter;

namespace tavrelo::ipc {
class Endpoint;
}

namespace tavrelo::launcher {

// The endpoint by which the viewer finds the splash, and the message that closes it.
using tavrelo::messaging::kSplashClass;
using tavrelo::messaging::kSplashCloseMessage;
using tavrelo::messaging::kSplashTitle;

inline constexpr int kSplashTimeoutMs = 3000;
inline constexpr int kViewerCheckMs = 300;

// Where the splash goes: centred in a work area of `workArea` size, counted from (0, 0) (the
// work area's own left and top are not added), never above or left of it.
QPoint splashPosition(const QSize &workArea, const QSize &bitmap);

// The version line's box: left 10, top 160, right the bitmap's width less 40, bottom 180.
QRect versionTextRect(const QSize &bitmap);

// Paints the splash: the bitmap at (0, 0) and the version line over it.
void paintSplash(QPainter &painter, const QPixmap &bitmap, const QString &versionText);

class SplashWindow final : public QWidget {
    Q_OBJECT

public:
    // The splash for the bitmap at `path` (a resource path by default); null when the bitmap
    // cannot be loaded or is empty.
    static std::unique_ptr<SplashWindow> create(const QString &path = QStringLiteral(":/launcher/splash.bmp"));
    ~SplashWindow() override;

    // Places the window for the primary screen's work area, shows it and lets it paint.
    void showCentred();

    // The viewer has been started: from now on the splash closes after kSplashTimeoutMs, or once
    // `viewerEnded` (asked every kViewerCheckMs) returns true.
    void startWaiting(std::function<bool()> viewerEnded);

    bool isClosed() const { return m_closed; }
    const QPixmap &bitmap() const { return m_bitmap; }

Q_SIGNALS:
    void closed();

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    explicit SplashWindow(const QPixmap &bitmap);

    QPixmap m_bitmap;
    QString m_versionText;
    std::unique_ptr<ipc::Endpoint> m_endpoint;
    QTimer m_timeout;
    QTimer m_viewerCheck;
    std::function<bool()> m_viewerEnded;
    bool m_closed = false;
};

}

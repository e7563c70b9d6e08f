#include "splashwindow.h"

#include "launcherstrings.h"

#include "ipc/endpoint.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <algorithm>

namespace tavrelo::launcher {

namespace {

// How long showing waits for the window system to map the window before painting goes on
// without it.
constexpr int kExposeWaitMs = 2000;

}

QPoint splashPosition(const QSize &workArea, const QSize &bitmap)
{
    // Integer division truncates toward zero; a place left of or above the work area becomes 0.
    const int x = workArea.width() / 2 - bitmap.width() / 2;
    const int y = workArea.height() / 2 - bitmap.height() / 2;
    return {std::max(x, 0), std::max(y, 0)};
}

QRect versionTextRect(const QSize &bitmap)
{
    // Right and bottom are the first pixels outside the box.
    return QRect(QPoint(10, 160), QPoint(bitmap.width() - 40 - 1, 180 - 1));
}

void paintSplash(QPainter &painter, const QPixmap &bitmap, const QString &versionText)
{
    painter.drawPixmap(0, 0, bitmap);
    painter.setFont(QFont(QStringLiteral("Arial"), 8, QFont::Normal));
    painter.setPen(QColor(240, 240, 240));
    painter.setBackgroundMode(Qt::TransparentMode);
    // One line, right-aligned and vertically centred; not clipped to the box, and no mnemonics
    // (Qt shows "&" as itself unless told otherwise).
    painter.drawText(versionTextRect(bitmap.size()),
                     Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip, versionText);
}

std::unique_ptr<SplashWindow> SplashWindow::create(const QString &path)
{
    const QPixmap bitmap(path);
    if (bitmap.isNull() || bitmap.width() <= 0 || bitmap.height() <= 0)
        return nullptr;
    return std::unique_ptr<SplashWindow>(new SplashWindow(bitmap));
}

SplashWindow::SplashWindow(const QPixmap &bitmap)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint),
      m_bitmap(bitmap),
      m_versionText(QString::asprintf(kVersionFormat, kVersion))
{
    setWindowTitle(QString::fromUtf8(kSplashTitle)); // as its endpoint, and as message boxes name their owner
    setFixedSize(m_bitmap.size());
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);

    // The viewer posts the close message here once its window is up. Without an endpoint the
    // splash still closes by the other ways.
    m_endpoint = std::make_unique<ipc::Endpoint>(QByteArray(kSplashClass), QByteArray(kSplashTitle));
    m_endpoint->setMessageHandler([this](const QByteArray &message, std::int64_t, std::int64_t, const QByteArray &) {
        if (message == kSplashCloseMessage)
            close();
    });

    m_timeout.setSingleShot(true);
    m_timeout.setTimerType(Qt::PreciseTimer); // a coarse timer may fire up to 5 % early
    m_timeout.setInterval(kSplashTimeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, &QWidget::close);
    m_viewerCheck.setInterval(kViewerCheckMs);
    connect(&m_viewerCheck, &QTimer::timeout, this, [this] {
        if (m_viewerEnded && m_viewerEnded())
            close();
    });
}

SplashWindow::~SplashWindow() = default;

void SplashWindow::showCentred()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    move(splashPosition(screen ? screen->availableGeometry().size() : QSize(), m_bitmap.size()));
    show();
    // Painted before anything else happens: wait (briefly) for the window system to map the
    // window, then let the pending paint run.
    const QDeadlineTimer deadline(kExposeWaitMs);
    QTimer wake; // the wait below sleeps until something happens; this makes sure something does
    wake.start(50);
    while (!m_closed && windowHandle() && !windowHandle()->isExposed() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();
}

void SplashWindow::startWaiting(std::function<bool()> viewerEnded)
{
    m_viewerEnded = std::move(viewerEnded);
    m_timeout.start();
    m_viewerCheck.start();
}

void SplashWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintSplash(painter, m_bitmap, m_versionText);
}

void SplashWindow::keyPressEvent(QKeyEvent *) { close(); }

void SplashWindow::mousePressEvent(QMouseEvent *) { close(); }

void SplashWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
    m_timeout.stop();
    m_viewerCheck.stop();
    if (!m_closed) {
        m_closed = true;
        Q_EMIT closed();
    }
}

}

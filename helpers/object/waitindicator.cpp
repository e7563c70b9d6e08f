#include "waitindicator.h"

#include "quillet.h"

#include "testsurface/uirequests.h"

#include <QEvent>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace tavrelo::helpers {

using namespace tavrelo::testsurface;

namespace {

constexpr int kSlowAfterMs = 3000;

// Closing the window ends the wait; the window then closes as it always does.
class CloseWatch final : public QObject {
public:
    CloseWatch(QWidget *window, QObject *parent, std::function<void()> cancel)
        : QObject(parent), m_window(window), m_cancel(std::move(cancel))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window && event->type() == QEvent::Close)
            QTimer::singleShot(0, this, [this] { m_cancel(); });
        return false;
    }

private:
    QObject *m_window;
    std::function<void()> m_cancel;
};

// The viewer's indicator (three dots on a dark blue square, one lit after the other) with the
// line and the button beside it, over the window's top left corner.
class Indicator final : public QFrame {
public:
    Indicator(QWidget *window, const QString &text, std::function<void()> cancel)
        : QFrame(window), m_cancel(std::move(cancel))
    {
        setObjectName(QStringLiteral("tavreloWaitIndicator"));
        setAutoFillBackground(true);
        setFrameShape(QFrame::StyledPanel);
        setStyleSheet(QStringLiteral("#tavreloWaitIndicator { background: #f4f4f4; border: 1px solid #1f3b63; }"
                                     "QLabel#dots { background: #1f3b63; color: #f3d36b; border-radius: 6px;"
                                     " font-size: 14px; font-weight: bold; min-width: 34px; min-height: 34px; }"));
        auto *layout = new QHBoxLayout(this);
        m_dots = new QLabel(this);
        m_dots->setObjectName(QStringLiteral("dots"));
        m_dots->setAlignment(Qt::AlignCenter);
        layout->addWidget(m_dots);
        layout->addWidget(new QLabel(text, this), 1);
        auto *button = new QPushButton(QStringLiteral("Cancel"), this);
        layout->addWidget(button);
        connect(button, &QPushButton::clicked, this, [this] { m_cancel(); });
        m_turn.setInterval(300);
        connect(&m_turn, &QTimer::timeout, this, [this] { showDots(++m_lit % 3); });
        showDots(0);
        m_turn.start();
        new CloseWatch(window, this, m_cancel);
        adjustSize();
        move(4, 4);
        raise();
        show();
    }

private:
    void showDots(int lit)
    {
        QString dots;
        for (int i = 0; i < 3; ++i)
            dots += i == lit ? QStringLiteral("\u25CF") : QStringLiteral("\u00B7");
        m_dots->setText(dots);
    }

    std::function<void()> m_cancel;
    QLabel *m_dots;
    QTimer m_turn;
    int m_lit = 0;
};

} // namespace

namespace waitindicator {

QString fileWaitText(const QString &path)
{
    return QStringLiteral("Waiting for %1, which another window is using.").arg(QFileInfo(path).fileName());
}

tavrelo::sync::WaitHooks hooksFor(Quillet *owner, const QString &text)
{
    // What is shown lives until the wait ends, or its window goes.
    auto shown = std::make_shared<QPointer<QObject>>();
    tavrelo::sync::WaitHooks hooks;
    hooks.slowAfterMs = kSlowAfterMs;
    hooks.slow = [owner, text, shown](const std::function<void()> &cancel) {
        HWND window = nullptr;
        owner->findHostWindow(QString(), &window);
        if (uiIsScripted()) {
            const std::optional<QJsonValue> answer = takeScriptedAnswer(QStringLiteral("wait"));
            const bool cancelled = answer && answer->toString() == u"cancel";
            logUiRequest(QJsonObject{{QStringLiteral("kind"), QStringLiteral("wait")},
                                     {QStringLiteral("caption"), window ? window->windowTitle() : QString()},
                                     {QStringLiteral("text"), text},
                                     {QStringLiteral("buttons"), QStringLiteral("cancel")},
                                     {QStringLiteral("answer"), cancelled ? QStringLiteral("cancel") : QString()}});
            if (cancelled) {
                cancel();
                return;
            }
            if (window)
                *shown = new CloseWatch(window, window, cancel);
            return;
        }
        if (window)
            *shown = new Indicator(window, text, cancel);
    };
    hooks.ended = [shown] {
        if (*shown)
            (*shown)->deleteLater();
    };
    return hooks;
}

}

} // namespace tavrelo::helpers

// DoRevokeDragDrop: the host window and everything in it stop accepting drops.

#include "quillet.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>

namespace {

// Qt WebEngine makes new widgets for its pages as they navigate, and those accept drops again; an
// application-wide filter refuses drag and drop to every widget of a revoked window instead.
class DropRefusal final : public QObject {
public:
    static DropRefusal &instance()
    {
        static auto *refusal = [] {
            auto *filter = new DropRefusal(qApp);
            qApp->installEventFilter(filter);
            return filter;
        }();
        return *refusal;
    }

    void revoke(QWidget *window)
    {
        if (!m_windows.contains(window))
            m_windows.append(window);
        window->setAcceptDrops(false);
        for (QWidget *child : window->findChildren<QWidget *>())
            child->setAcceptDrops(false);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if ((type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop) && watched->isWidgetType()) {
            QWidget *window = static_cast<QWidget *>(watched)->window();
            m_windows.removeAll(nullptr);
            if (m_windows.contains(window)) {
                event->ignore();
                return true;
            }
        }
        return false;
    }

private:
    using QObject::QObject;
    QList<QPointer<QWidget>> m_windows;
};

}

HRESULT Quillet::DoRevokeDragDrop()
{
    HWND window = nullptr;
    if (FAILED(findHostWindow(QString(), &window)) || !window || !qApp)
        return S_OK;
    DropRefusal::instance().revoke(window);
    return S_OK;
}

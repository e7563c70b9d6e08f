// DoRevokeDragDrop: the host window and everything in it stop accepting drops.

#include "quillet.h"

#include "automation/module.h"

#include <QApplication>
#include <QFile>
#include <QPointer>
#include <QWidget>

#include <dlfcn.h>

namespace tavrelo::helpers {

namespace {

// Qt WebEngine makes new widgets for its pages as they navigate, and those accept drops again; an
// application-wide filter refuses drag and drop to every widget of a revoked window instead.
class DropRefusal final : public QObject {
public:
    // The filter of the running application, installed on first use (and again should the
    // application be replaced).
    static DropRefusal *instance()
    {
        static QPointer<DropRefusal> refusal;
        if (!refusal) {
            // The filter's code lives in this library, which must therefore stay loaded for as long
            // as the application may call it.
            static const bool pinned = pinThisLibrary();
            static_cast<void>(pinned);
            refusal = new DropRefusal(qApp);
            qApp->installEventFilter(refusal);
        }
        return refusal;
    }

    void revoke(QWidget *window)
    {
        m_windows.removeAll(nullptr);
        if (!m_windows.contains(window))
            m_windows.append(window);
        window->setAcceptDrops(false);
        const QList<QWidget *> descendants = window->findChildren<QWidget *>();
        for (QWidget *widget : descendants)
            widget->setAcceptDrops(false);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if ((type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop) &&
            watched->isWidgetType()) {
            // A window destroyed meanwhile has left the list as a null entry.
            if (m_windows.contains(static_cast<QWidget *>(watched)->window())) {
                event->ignore();
                return true;
            }
        }
        return false;
    }

private:
    using QObject::QObject;

    static bool pinThisLibrary()
    {
        static const char inThisLibrary = 0;
        const QByteArray path = QFile::encodeName(tavrelo::automation::modulePathOf(&inThisLibrary));
        // Already loaded: this only marks it as never to be unloaded. The handle is kept for good.
        return dlopen(path.constData(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
    }

    QList<QPointer<QWidget>> m_windows;
};

}

HRESULT Quillet::DoRevokeDragDrop()
{
    HWND window = nullptr;
    if (FAILED(findHostWindow(QString(), &window)) || !window ||
        !qobject_cast<QApplication *>(QCoreApplication::instance()))
        return S_OK;
    DropRefusal::instance()->revoke(window);
    return S_OK;
}

} // namespace tavrelo::helpers

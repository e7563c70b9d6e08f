#include "errormessage.h"

#include "launcherstrings.h"

#include "testsurface/uirequests.h"

#include <QJsonObject>
#include <QMessageBox>
#include <QWidget>

namespace tavrelo::launcher {

void showErrorMessage(const QString &text, QWidget *owner)
{
    const QString caption = QString::fromUtf8(kCaption);
    if (tavrelo::testsurface::uiIsScripted()) {
        // A box with OK alone is answered OK whatever the script says.
        tavrelo::testsurface::takeScriptedAnswer(QStringLiteral("message"));
    } else {
        QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, owner);
        box.exec();
    }
    tavrelo::testsurface::logUiRequest(QJsonObject{{QStringLiteral("kind"), QStringLiteral("message")},
                                         {QStringLiteral("caption"), caption},
                                         {QStringLiteral("text"), text},
                                         {QStringLiteral("icon"), QStringLiteral("error")},
                                         {QStringLiteral("buttons"), QStringLiteral("ok")},
                                         {QStringLiteral("owner"), owner ? QJsonValue(owner->windowTitle()) : QJsonValue()},
                                         {QStringLiteral("answer"), QStringLiteral("ok")}});
}

}

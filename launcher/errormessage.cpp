#include "errormessage.h"

#include "launcherstrings.h"

#include "automation/uirequests.h"

#include <QJsonObject>
#include <QMessageBox>

namespace tavrelo::launcher {

void showErrorMessage(const QString &text)
{
    const QString caption = QString::fromUtf8(kCaption);
    if (automation::uiIsScripted()) {
        // A box with OK alone is answered OK whatever the script says.
        automation::takeScriptedAnswer(QStringLiteral("message"));
    } else {
        QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok);
        box.exec();
    }
    automation::logUiRequest(QJsonObject{{QStringLiteral("kind"), QStringLiteral("message")},
                                         {QStringLiteral("caption"), caption},
                                         {QStringLiteral("text"), text},
                                         {QStringLiteral("icon"), QStringLiteral("error")},
                                         {QStringLiteral("buttons"), QStringLiteral("ok")},
                                         {QStringLiteral("answer"), QStringLiteral("ok")}});
}

}

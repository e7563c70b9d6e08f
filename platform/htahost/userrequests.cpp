#include "userrequests.h"

#include "testsurface/uirequests.h"

#include <QDesktopServices>
#include <QJsonObject>
#include <QMessageBox>
#include <QPointer>

namespace tavrelo::htahost {

using namespace tavrelo::testsurface;

namespace {

QString answerText(bool ok) { return ok ? QStringLiteral("ok") : QStringLiteral("cancel"); }

void logMessage(const QString &caption, const QString &text, bool question, bool ok)
{
    logUiRequest(QJsonObject{{QStringLiteral("kind"), QStringLiteral("message")},
                             {QStringLiteral("caption"), caption},
                             {QStringLiteral("text"), text},
                             {QStringLiteral("buttons"), question ? QStringLiteral("okcancel") : QStringLiteral("ok")},
                             {QStringLiteral("answer"), answerText(ok)}});
}

}

void askUser(QWidget *parent, const QString &caption, const QString &text, bool question,
             std::function<void(bool ok)> done)
{
    if (uiIsScripted()) {
        const std::optional<QJsonValue> answer = takeScriptedAnswer(QStringLiteral("message"));
        // A message box has only OK; a question left without an answer is answered OK too.
        const bool ok = !question || !answer || answer->toString() != u"cancel";
        logMessage(caption, text, question, ok);
        done(ok);
        return;
    }
    auto *box = new QMessageBox(question ? QMessageBox::Question : QMessageBox::Warning, caption, text,
                                question ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    QObject::connect(box, &QMessageBox::finished, box, [box, caption, text, question, done = std::move(done)] {
        const bool ok = box->clickedButton() == box->button(QMessageBox::Ok);
        logMessage(caption, text, question, ok);
        done(ok);
    });
    box->open();
}

bool isOutsideAddress(const QUrl &url)
{
    const QString scheme = url.scheme();
    return scheme == u"http" || scheme == u"https" || scheme == u"ftp" || scheme == u"mailto";
}

void openOutside(const QUrl &url)
{
    logUiRequest(QJsonObject{{QStringLiteral("kind"), QStringLiteral("open")},
                             {QStringLiteral("url"), url.toString()},
                             {QStringLiteral("answer"), QStringLiteral("ok")}});
    if (!uiIsScripted())
        QDesktopServices::openUrl(url);
}

} // namespace tavrelo::htahost

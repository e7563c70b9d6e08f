#include "printing.h"

#include "resaddress.h"

#include "testsurface/uirequests.h"

#include <QJsonObject>
#include <QPrintDialog>
#include <QPrinter>
#include <QUuid>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace tavrelo::htahost {

using namespace tavrelo::testsurface;

QHash<QString, QByteArray> &Printing::documents()
{
    static QHash<QString, QByteArray> store;
    return store;
}

QByteArray Printing::document(const QString &id) { return documents().value(id); }

namespace {

// Relative addresses of the copy resolve against the frame it came from.
QByteArray withBase(const QString &html, const QUrl &base)
{
    const QString tag = QStringLiteral("<base href=\"%1\">").arg(base.toString(QUrl::FullyEncoded).toHtmlEscaped());
    QString copy = html;
    const qsizetype head = copy.indexOf(QStringLiteral("<head"), 0, Qt::CaseInsensitive);
    const qsizetype insertAt = head < 0 ? -1 : copy.indexOf(u'>', head);
    if (insertAt < 0)
        copy.prepend(tag);
    else
        copy.insert(insertAt + 1, tag);
    return copy.toUtf8();
}

}

void Printing::print(QWidget *parent, QWebEngineProfile *profile, const QString &html, const QUrl &base,
                     std::function<void(CallResult)> done)
{
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    documents().insert(id, withBase(html, base));

    auto *view = new QWebEngineView;
    auto *page = new QWebEnginePage(profile, view);
    page->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    view->setPage(page);
    auto finish = [view, id, done](CallResult result) {
        documents().remove(id);
        view->deleteLater();
        done(std::move(result));
    };
    QObject::connect(page, &QWebEnginePage::loadFinished, view, [=](bool loaded) {
        if (!loaded) {
            finish(CallResult::failure(E_FAIL, QStringLiteral("The frame could not be prepared for printing.")));
            return;
        }
        const QString title = page->title();
        if (uiIsScripted()) {
            // The scripted answer is a PDF file to print into, or "" for a cancelled dialog.
            const QString target = takeScriptedAnswer(QStringLiteral("print")).value_or(QJsonValue()).toString();
            logUiRequest(QJsonObject{{QStringLiteral("kind"), QStringLiteral("print")},
                                     {QStringLiteral("caption"), title},
                                     {QStringLiteral("answer"), target}});
            if (target.isEmpty()) {
                finish({false});
                return;
            }
            QObject::connect(page, &QWebEnginePage::pdfPrintingFinished, view,
                             [finish](const QString &, bool ok) { finish({ok}); });
            page->printToPdf(target);
            return;
        }
        auto *printer = new QPrinter(QPrinter::HighResolution);
        printer->setDocName(title);
        auto *dialog = new QPrintDialog(printer, parent);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(dialog, &QPrintDialog::finished, view, [=](int accepted) {
            logUiRequest(QJsonObject{{QStringLiteral("kind"), QStringLiteral("print")},
                                     {QStringLiteral("caption"), title},
                                     {QStringLiteral("answer"), accepted ? QStringLiteral("ok") : QString()}});
            if (!accepted) {
                delete printer;
                finish({false});
                return;
            }
            QObject::connect(view, &QWebEngineView::printFinished, view, [=](bool ok) {
                delete printer;
                finish({ok});
            });
            view->print(printer);
        });
        dialog->open();
    });
    QUrl address;
    address.setScheme(QStringLiteral("res"));
    address.setPath(kPrintPath + id);
    page->load(address);
}

} // namespace tavrelo::htahost

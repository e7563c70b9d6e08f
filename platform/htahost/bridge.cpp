#include "bridge.h"

#include "blobsaver.h"
#include "fileservice.h"
#include "hostpage.h"
#include "hostwindow.h"
#include "jobreply.h"
#include "printing.h"
#include "resaddress.h"
#include "userrequests.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>
#include <QWebEngineUrlRequestJob>

Q_LOGGING_CATEGORY(lcBridge, "tavrelo.htahost.bridge")

namespace {

constexpr qsizetype kMaxTransfer = 512 * 1024 * 1024; // the most a page may send in parts

using Job = QPointer<QWebEngineUrlRequestJob>;

void answer(const Job &job, const CallResult &result)
{
    if (!job)
        return;
    if (FAILED(result.hr))
        replyError(job, result.hr, result.description);
    else
        replyResult(job, result.result);
}

// The help a page asks for. The desktop has no viewer for compiled help files: when the file is
// one of those, or is missing, the HTML guide of the same name beside it is shown instead.
QString helpTarget(const QString &target)
{
    if (!QDir::isAbsolutePath(target))
        return target;
    const QFileInfo requested(target);
    if (requested.isFile() && requested.suffix().compare(u"chm", Qt::CaseInsensitive) != 0)
        return target;
    const QString guide = requested.dir().filePath(requested.completeBaseName() + QStringLiteral(".html"));
    return QFileInfo(guide).isFile() ? guide : target;
}

CallResult malformed(const QString &method)
{
    return CallResult::failure(E_INVALIDARG, QStringLiteral("Malformed call to the host: %1").arg(method));
}

// Carries out one checked call; `job` is answered now or when the work finishes.
void dispatch(HostPage *page, const QString &method, const QJsonObject &call, const Job &job)
{
    HostWindow *window = page->hostWindow();
    const QString frame = call.value(QStringLiteral("frame")).toString();
    const auto text = [&call](const char *name) { return call.value(QLatin1String(name)); };

    if (method == u"hello") {
        answer(job, {window->hello()});
    } else if (method == u"window.origin") {
        answer(job, {window->contentScreenOrigin()});
    } else if (method == u"create") {
        const QJsonValue clsid = text("clsid"), progId = text("progId");
        if (!clsid.isString() && !progId.isString())
            return answer(job, malformed(method));
        answer(job, page->objects().create(frame, clsid.toString(), progId.isString() ? progId.toString() : QString()));
    } else if (method == u"invoke") {
        const int flags = text("flags").toInt();
        if (!text("object").isDouble() || !text("name").isString() || !text("args").isArray() || flags < 1 || flags > 7)
            return answer(job, malformed(method));
        answer(job, page->objects().invoke(frame, text("object").toInt(), text("name").toString(),
                                           static_cast<std::uint16_t>(flags), text("args").toArray()));
    } else if (method == u"advise") {
        answer(job, page->objects().advise(frame, text("object").toInt(), text("event").toString()));
    } else if (method == u"handled") {
        page->objects().handled(frame, text("number").toInt());
        answer(job, {true});
    } else if (method == u"unadvise") {
        answer(job, page->objects().unadvise(frame, text("object").toInt(), text("sink").toInt()));
    } else if (method == u"message") {
        if (!text("text").isString())
            return answer(job, malformed(method));
        askUser(window, window->caption(), text("text").toString(), text("buttons").toString() == u"okcancel",
                [job](bool ok) { answer(job, {ok ? QStringLiteral("ok") : QStringLiteral("cancel")}); });
    } else if (method == u"modal") {
        if (!text("url").isString())
            return answer(job, malformed(method));
        window->openDialog(QUrl(text("url").toString()), text("arguments"), text("features").toString(),
                           [job](const CallResult &result) { answer(job, result); }, text("menuArguments"));
    } else if (method == u"dialog.returnValue") {
        window->setReturnValue(text("value"));
        answer(job, {true});
    } else if (method == u"dialog.geometry") {
        answer(job, {window->dialogGeometry(call)});
    } else if (method == u"close") {
        answer(job, {true});
        QTimer::singleShot(0, window, &HostWindow::requestClose);
    } else if (method == u"print") {
        if (!text("html").isString())
            return answer(job, malformed(method));
        Printing::print(window, window->profile(), text("html").toString(), QUrl(text("url").toString()),
                        [job](const CallResult &result) { answer(job, result); });
    } else if (method == u"help") {
        const QString target = helpTarget(text("target").toString());
        const QUrl url = QDir::isAbsolutePath(target) ? QUrl::fromLocalFile(target) : QUrl(target);
        if (url.isLocalFile() || isOutsideAddress(url))
            openOutside(url);
        answer(job, {true});
    } else if (method == u"open") {
        const QUrl url(text("url").toString());
        if (isOutsideAddress(url))
            openOutside(url);
        answer(job, {true});
    } else if (method == u"file.read") {
        // The identity now, the text with the next call: as plain text, which reaches the page
        // faster than a JSON string would.
        FileRead read;
        if (const CallResult failed = readFile(text("path").toString(), &read); FAILED(failed.hr))
            return answer(job, failed);
        answer(job, {QJsonObject{{QStringLiteral("identity"), read.identity},
                                 {QStringLiteral("content"), page->holdRead(std::move(read.utf8))}}});
    } else if (method == u"file.content") {
        const std::optional<QByteArray> bytes = page->takeRead(text("content").toString());
        if (!bytes)
            return answer(job, malformed(method));
        replyBytes(job, QByteArrayLiteral("text/plain;charset=utf-8"), *bytes);
    } else if (method == u"file.identity") {
        const QString path = text("path").toString();
        if (!QDir::isAbsolutePath(path))
            return answer(job, malformed(method));
        answer(job, {fileIdentity(path)});
    } else if (method == u"file.watch") {
        const QString path = text("path").toString();
        if (!path.isEmpty() && !QDir::isAbsolutePath(path))
            return answer(job, malformed(method));
        page->watchFile(path);
        answer(job, {true});
    } else if (method == u"file.size") {
        const QFileInfo info(text("path").toString());
        answer(job, {info.isAbsolute() && info.isFile() ? double(info.size()) : -1.0});
    } else if (method == u"file.write") {
        if (text("blob").isString()) { // written by the engine, straight from the page's blob
            BlobSaver::of(page->profile())->save(page, QUrl(text("blob").toString()), qint64(text("size").toDouble()),
                                                 text("path").toString(),
                                                 [job](const CallResult &result) { answer(job, result); });
            return;
        }
        if (!text("text").isString())
            return answer(job, malformed(method));
        answer(job, writeTextFile(text("path").toString(), text("text").toString(), text("encoding").toString()));
    } else if (method == u"file.preserve") {
        answer(job, preserveDamagedFile(text("path").toString()));
    } else {
        answer(job, CallResult::failure(DISP_E_MEMBERNOTFOUND, QStringLiteral("The host has no call '%1'.").arg(method)));
    }
}

// Joins the parts of a long call; false when they are missing or too many.
bool joinTransfer(HostPage *page, const QString &transfer, QByteArray *encoded)
{
    const QList<QByteArray> parts = page->transfers().take(transfer);
    if (parts.isEmpty())
        return false;
    *encoded = parts.join();
    return true;
}

bool storePart(HostPage *page, const QString &rest, const QByteArray &encoded)
{
    // part/<transfer>/<sequence number>
    const QStringList pieces = rest.split(u'/');
    bool numbered = false;
    const int sequence = pieces.size() == 3 ? pieces.at(2).toInt(&numbered) : -1;
    QList<QByteArray> &parts = page->transfers()[pieces.value(1)];
    qsizetype total = encoded.size();
    for (const QByteArray &part : std::as_const(parts))
        total += part.size();
    if (!numbered || sequence != parts.size() || total > kMaxTransfer) {
        page->transfers().remove(pieces.value(1));
        return false;
    }
    parts.append(encoded);
    return true;
}

}

void handleBridgeRequest(QWebEngineUrlRequestJob *job)
{
    // <bridge path>t-<token>/<method>?<the call as percent-encoded JSON>
    const QUrl url = job->requestUrl();
    const QString rest = url.path(QUrl::FullyDecoded).mid(kBridgePath.size());
    const qsizetype slash = rest.indexOf(u'/');
    HostPage *page = slash > 0 ? HostPage::byToken(rest.left(slash)) : nullptr;
    if (!page || !page->isBridged()) {
        qCWarning(lcBridge) << "Refused a call from outside the application.";
        replyError(job, E_ACCESSDENIED, QStringLiteral("Access is denied."));
        return;
    }
    const QString method = rest.mid(slash + 1);
    QByteArray encoded = url.query(QUrl::FullyEncoded).toLatin1();
    if (method.startsWith(u"part/")) {
        if (storePart(page, method, encoded))
            replyResult(job, true);
        else
            replyError(job, E_INVALIDARG, QStringLiteral("A long call arrived incomplete."));
        return;
    }
    QJsonParseError error{};
    QJsonObject call = QJsonDocument::fromJson(QByteArray::fromPercentEncoding(encoded), &error).object();
    if (call.value(QStringLiteral("$transfer")).isString()) {
        QByteArray joined;
        if (!joinTransfer(page, call.value(QStringLiteral("$transfer")).toString(), &joined)) {
            replyError(job, E_INVALIDARG, QStringLiteral("A long call arrived incomplete."));
            return;
        }
        call = QJsonDocument::fromJson(QByteArray::fromPercentEncoding(joined), &error).object();
    }
    if (error.error != QJsonParseError::NoError || !call.value(QStringLiteral("frame")).isString()) {
        replyError(job, E_INVALIDARG, QStringLiteral("Malformed call to the host: %1").arg(method));
        return;
    }
    if (call.value(QStringLiteral("$staged")).isString()) {
        page->objects().callStarted(job);
        // The call comes through the web channel; taking it may wait for it, out of the engine's
        // request handling.
        QTimer::singleShot(0, page, [page, method, id = call.value(QStringLiteral("$staged")).toString(),
                                     pending = Job(job)] {
            const std::optional<QJsonObject> staged = page->bulk().take(id, 60000);
            if (!staged || !staged->value(QStringLiteral("frame")).isString())
                answer(pending, CallResult::failure(E_INVALIDARG, QStringLiteral("A long call arrived incomplete.")));
            else if (pending)
                dispatch(page, method, *staged, pending);
        });
        return;
    }
    if (method == u"poll") { // waits; never runs page code
        page->objects().poll(call.value(QStringLiteral("frame")).toString(), job);
        return;
    }
    page->objects().callStarted(job);
    // Out of the engine's request handling: members may run event loops of their own.
    QTimer::singleShot(0, page, [page, method, call, pending = Job(job)] {
        if (pending)
            dispatch(page, method, call, pending);
    });
}

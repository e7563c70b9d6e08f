#include "bridge.h"

#include "blobsaver.h"
#include "fileservice.h"
#include "hostpage.h"
#include "hostwindow.h"
#include "jobreply.h"
#include "printing.h"
#include "resaddress.h"
#include "userrequests.h"
#include "xmlprolog.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>
#include <QWebEngineUrlRequestJob>

namespace tavrelo::htahost {

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

// One checked call as its handler sees it; `job` is answered now or when the work finishes.
struct Call {
    HostPage *page;
    HostWindow *window;
    const QString &method;
    const QString &frame;
    const QJsonObject &arguments;
    const Job &job;

    QJsonValue value(const char *name) const { return arguments.value(QLatin1String(name)); }
    void reply(const CallResult &result) const { answer(job, result); }
    void replyMalformed() const { answer(job, malformed(method)); }
    // For work that answers when it finishes.
    auto later() const
    {
        return [job = job](const CallResult &result) { answer(job, result); };
    }
};

using Handler = void (*)(const Call &);

// The host's calls by name.
const QHash<QString, Handler> &handlers()
{
    static const QHash<QString, Handler> table{
        {QStringLiteral("hello"), [](const Call &c) { c.reply({c.window->hello()}); }},
        {QStringLiteral("window.origin"), [](const Call &c) { c.reply({c.window->contentScreenOrigin()}); }},
        {QStringLiteral("create"),
         [](const Call &c) {
             const QJsonValue clsid = c.value("clsid"), progId = c.value("progId");
             if (!clsid.isString() && !progId.isString())
                 return c.replyMalformed();
             c.reply(c.page->objects().create(c.frame, clsid.toString(), progId.isString() ? progId.toString() : QString()));
         }},
        {QStringLiteral("invoke"),
         [](const Call &c) {
             const int flags = c.value("flags").toInt();
             if (!c.value("object").isDouble() || !c.value("name").isString() || !c.value("args").isArray() || flags < 1 ||
                 flags > 7)
                 return c.replyMalformed();
             c.reply(c.page->objects().invoke(c.frame, c.value("object").toInt(), c.value("name").toString(),
                                              static_cast<std::uint16_t>(flags), c.value("args").toArray()));
         }},
        {QStringLiteral("advise"),
         [](const Call &c) {
             c.reply(c.page->objects().advise(c.frame, c.value("object").toInt(), c.value("event").toString()));
         }},
        {QStringLiteral("handled"),
         [](const Call &c) {
             c.page->objects().handled(c.frame, c.value("number").toInt());
             c.reply({true});
         }},
        {QStringLiteral("unadvise"),
         [](const Call &c) {
             c.reply(c.page->objects().unadvise(c.frame, c.value("object").toInt(), c.value("sink").toInt()));
         }},
        {QStringLiteral("message"),
         [](const Call &c) {
             if (!c.value("text").isString())
                 return c.replyMalformed();
             askUser(c.window, c.window->caption(), c.value("text").toString(), c.value("buttons").toString() == u"okcancel",
                     [job = c.job](bool ok) { answer(job, {ok ? QStringLiteral("ok") : QStringLiteral("cancel")}); });
         }},
        {QStringLiteral("modal"),
         [](const Call &c) {
             if (!c.value("url").isString())
                 return c.replyMalformed();
             c.window->openDialog(QUrl(c.value("url").toString()), c.value("arguments"), c.value("features").toString(),
                                  c.later(), c.value("menuArguments"));
         }},
        {QStringLiteral("dialog.returnValue"),
         [](const Call &c) {
             c.window->setReturnValue(c.value("value"));
             c.reply({true});
         }},
        {QStringLiteral("dialog.geometry"), [](const Call &c) { c.reply({c.window->dialogGeometry(c.arguments)}); }},
        {QStringLiteral("close"),
         [](const Call &c) {
             c.reply({true});
             QTimer::singleShot(0, c.window, &HostWindow::requestClose);
         }},
        {QStringLiteral("print"),
         [](const Call &c) {
             if (!c.value("html").isString())
                 return c.replyMalformed();
             Printing::print(c.window, c.window->profile(), c.value("html").toString(), QUrl(c.value("url").toString()),
                             c.later());
         }},
        {QStringLiteral("help"),
         [](const Call &c) {
             const QString target = helpTarget(c.value("target").toString());
             const QUrl url = QDir::isAbsolutePath(target) ? QUrl::fromLocalFile(target) : QUrl(target);
             if (url.isLocalFile() || isOutsideAddress(url))
                 openOutside(url);
             c.reply({true});
         }},
        {QStringLiteral("open"),
         [](const Call &c) {
             const QUrl url(c.value("url").toString());
             if (isOutsideAddress(url))
                 openOutside(url);
             c.reply({true});
         }},
        {QStringLiteral("file.read"),
         [](const Call &c) {
             // The identity now, the text with the next call: as plain text, which reaches the
             // page faster than a JSON string would.
             // Asked for as a document, it also tells whether the engine may parse it as one
             // (file.document) and what its declaration says. A text the engine may not parse
             // as a document is not held: the page reads it as text.
             const QString path = c.value("path").toString();
             const auto answerDocument = [&c](QJsonObject answer, QByteArrayView head, std::unique_ptr<QIODevice> read) {
                 const XmlProlog prolog = readXmlProlog(head);
                 answer.insert(QStringLiteral("document"), prolog.plain);
                 answer.insert(QStringLiteral("declaration"), prolog.declaration);
                 if (prolog.plain)
                     answer.insert(QStringLiteral("content"), c.page->holdRead(std::move(read)));
                 c.reply({answer});
             };
             if (c.value("document").toBool()) {
                 // A UTF-8 file stays open, and the engine parses it as it reads it.
                 OpenedFile opened;
                 if (const CallResult failed = openUtf8File(path, &opened); FAILED(failed.hr))
                     return c.reply(failed);
                 if (opened.file)
                     return answerDocument({{QStringLiteral("identity"), opened.identity}}, opened.head, std::move(opened.file));
             }
             FileRead read;
             if (const CallResult failed = readFile(path, &read); FAILED(failed.hr))
                 return c.reply(failed);
             auto held = std::make_unique<QBuffer>();
             held->setData(read.utf8);
             held->open(QIODevice::ReadOnly);
             QJsonObject answer{{QStringLiteral("identity"), read.identity}};
             if (c.value("document").toBool())
                 return answerDocument(answer, read.utf8, std::move(held));
             answer.insert(QStringLiteral("content"), c.page->holdRead(std::move(held)));
             c.reply({answer});
         }},
        {QStringLiteral("file.content"),
         [](const Call &c) {
             std::unique_ptr<QIODevice> read = c.page->takeRead(c.value("content").toString());
             if (!read)
                 return c.replyMalformed();
             replyDevice(c.job, QByteArrayLiteral("text/plain;charset=utf-8"), std::move(read));
         }},
        {QStringLiteral("file.identity"),
         [](const Call &c) {
             const QString path = c.value("path").toString();
             if (!QDir::isAbsolutePath(path))
                 return c.replyMalformed();
             c.reply({fileIdentity(path)});
         }},
        {QStringLiteral("file.watch"),
         [](const Call &c) {
             const QString path = c.value("path").toString();
             if (!path.isEmpty() && !QDir::isAbsolutePath(path))
                 return c.replyMalformed();
             c.page->watchFile(path);
             c.reply({true});
         }},
        {QStringLiteral("file.size"),
         [](const Call &c) {
             const QFileInfo info(c.value("path").toString());
             c.reply({info.isAbsolute() && info.isFile() ? double(info.size()) : -1.0});
         }},
        {QStringLiteral("file.write"),
         [](const Call &c) {
             if (c.value("blob").isString()) { // written by the engine, straight from the page's blob
                 BlobSaver::of(c.page->profile())
                     ->save(c.page, QUrl(c.value("blob").toString()), qint64(c.value("size").toDouble()),
                            c.value("path").toString(), c.later());
                 return;
             }
             if (!c.value("text").isString())
                 return c.replyMalformed();
             c.reply(writeTextFile(c.value("path").toString(), c.value("text").toString(), c.value("encoding").toString()));
         }},
        {QStringLiteral("file.preserve"), [](const Call &c) { c.reply(preserveDamagedFile(c.value("path").toString())); }},
    };
    return table;
}

// Carries out one checked call; `job` is answered now or when the work finishes.
void dispatch(HostPage *page, const QString &method, const QJsonObject &call, const Job &job)
{
    const Handler handler = handlers().value(method);
    if (!handler)
        return answer(job, CallResult::failure(DISP_E_MEMBERNOTFOUND, QStringLiteral("The host has no call '%1'.").arg(method)));
    const QString frame = call.value(QStringLiteral("frame")).toString();
    handler({page, page->hostWindow(), method, frame, call, job});
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
    if (method == u"file.document") { // a frame of the page loads a held read as its document
        if (std::unique_ptr<QIODevice> read = page->takeRead(call.value(QStringLiteral("content")).toString()))
            replyDevice(job, QByteArrayLiteral("application/xml;charset=utf-8"), std::move(read));
        else
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
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

} // namespace tavrelo::htahost

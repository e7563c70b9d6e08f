// Runs one test page in the real htahost (and, with --also-page, more pages beside it, each in a
// host of its own) and reports their cases.
//
// The runner gives the host a private registry, runtime folder and user-interface test files,
// registers the helper library and the test page library the way an installation does, starts
// the host on the page with the scratch folder and the helper library as its arguments, and reads the page's reports,
// which it writes to the console as lines "PAGETEST {json}": {"case", "ok", "message"} for each
// case and {"done", "passed", "failed"} at the end.

#include "registry/winreg.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>
#include <csignal>

namespace {

struct Options {
    QString host, regsvr, helpers, pages, page;
    QStringList hostOptions;
    QStringList pageArguments;       // more arguments for the page, after the helper library
    QStringList alsoPages;           // pages run at the same time, each in a host of its own
    QStringList elsewherePages;      // the same, as on another machine: a registry and runtime folder of their own
    bool unregistered = false;      // the pages' library is a copy that no class names
    bool unregisterTypeLib = false; // the helper's type library is removed after registration
    bool terminateWhenReady = false; // the session ends (SIGTERM) once the page reports ready
    bool secondStart = false;        // once ready, the same page is started again first
    QString menuArguments;           // JSON of a captured browser window: the host runs a capture dialog
    bool devTools = false;           // once ready, the DevTools port must list the page and its dialog
    int timeoutMs = 90000;
};

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

bool parse(const QStringList &arguments, Options *options)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString name = arguments.at(i);
        const auto value = [&]() -> QString { return i + 1 < arguments.size() ? arguments.at(++i) : QString(); };
        if (name == u"--host")
            options->host = value();
        else if (name == u"--regsvr")
            options->regsvr = value();
        else if (name == u"--helpers")
            options->helpers = value();
        else if (name == u"--pages")
            options->pages = value();
        else if (name == u"--page")
            options->page = value();
        else if (name == u"--host-option")
            options->hostOptions << value();
        else if (name == u"--timeout")
            options->timeoutMs = value().toInt() * 1000;
        else if (name == u"--page-argument")
            options->pageArguments << value();
        else if (name == u"--also-page")
            options->alsoPages << value();
        else if (name == u"--also-page-elsewhere")
            options->elsewherePages << value();
        else if (name == u"--unregistered")
            options->unregistered = true;
        else if (name == u"--unregister-typelib")
            options->unregisterTypeLib = true;
        else if (name == u"--terminate-when-ready")
            options->terminateWhenReady = true;
        else if (name == u"--second-start")
            options->secondStart = options->terminateWhenReady = true;
        else if (name == u"--devtools")
            options->devTools = true;
        else if (name == u"--menu-arguments-json")
            options->menuArguments = value();
        else
            return false;
    }
    return !options->host.isEmpty() && !options->regsvr.isEmpty() && !options->helpers.isEmpty() &&
           !options->pages.isEmpty() && !options->page.isEmpty();
}

bool registerLibrary(const Options &options, const QString &library,
                     const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess regsvr;
    regsvr.setProcessEnvironment(environment);
    regsvr.start(options.regsvr, {QStringLiteral("-s"), library});
    if (!regsvr.waitForFinished(30000) || regsvr.exitCode() != 0) {
        out() << "cannot register " << library << ": " << regsvr.readAllStandardError() << Qt::endl;
        return false;
    }
    return true;
}

}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Options options;
    if (!parse(QCoreApplication::arguments(), &options)) {
        std::fprintf(stderr, "usage: pagetestrunner --host H --regsvr R --helpers LIB --pages LIB --page NAME "
                             "[--host-option O]... [--unregistered] [--unregister-typelib] [--terminate-when-ready]\n");
        return 2;
    }

    QTemporaryDir scratch;
    const QString root = scratch.path();
    // Collections a page saves into well-formed/ must parse again: each is checked with xmllint.
    for (const char *folder : {"registry", "runtime", "files", "well-formed"})
        QDir(root).mkpath(QLatin1String(folder));
    qputenv("TAVRELO_REGISTRY_DIR", (root + QStringLiteral("/registry")).toUtf8());
    qputenv("TAVRELO_RUNTIME_DIR", (root + QStringLiteral("/runtime")).toUtf8());
    qputenv("TAVRELO_AUTOMATION", (root + QStringLiteral("/answers.jsonl")).toUtf8());
    qputenv("TAVRELO_AUTOMATION_LOG", (root + QStringLiteral("/log.jsonl")).toUtf8());
    QFile(root + QStringLiteral("/answers.jsonl")).open(QIODevice::WriteOnly);

    if (!registerLibrary(options, options.helpers) || !registerLibrary(options, options.pages))
        return 1;
    if (options.unregisterTypeLib) {
        using namespace tavrelo::registry;
        RegDeleteTree(HKEY_CLASSES_ROOT, "TypeLib\\{C588105E-4E66-11D4-B7AB-00C0F04903DC}");
    }
    QString pages = options.pages;
    if (options.unregistered) {
        pages = root + QStringLiteral("/unregistered/") + QFileInfo(options.pages).fileName();
        QDir(root).mkpath(QStringLiteral("unregistered"));
        QFile::copy(options.pages, pages);
    }

    QStringList hostArguments = options.hostOptions;
    if (!options.menuArguments.isEmpty()) {
        const QString file = root + QStringLiteral("/menu-arguments.json");
        QFile menu(file);
        if (!menu.open(QIODevice::WriteOnly) || menu.write(options.menuArguments.toUtf8()) < 0)
            return 1;
        hostArguments << QStringLiteral("--dialog") << QStringLiteral("--menu-arguments") << file;
    }
    quint16 devToolsPort = 0;
    if (options.devTools) {
        QTcpServer probe; // a free port for the DevTools server
        probe.listen(QHostAddress::LocalHost);
        devToolsPort = probe.serverPort();
        probe.close();
        qputenv("QTWEBENGINE_REMOTE_DEBUGGING", "127.0.0.1:" + QByteArray::number(devToolsPort));
    }
    QNetworkAccessManager network;
    QProcess host;
    QProcess second;
    host.setProcessChannelMode(QProcess::SeparateChannels);
    hostArguments << QStringLiteral("res://") + pages + u'/' + options.page << root << options.helpers << options.pageArguments;
    int passed = 0, failed = 0;
    bool done = false;
    QByteArray pending;
    QObject::connect(&host, &QProcess::readyReadStandardError, &host, [&] {
        pending += host.readAllStandardError();
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            const qsizetype marker = line.indexOf("PAGETEST ");
            if (marker < 0) {
                out() << "  host: " << line << Qt::endl;
                continue;
            }
            const QJsonObject report = QJsonDocument::fromJson(line.mid(marker + 9)).object();
            if (report.value(QStringLiteral("ready")).toBool() && options.devTools) {
                const QUrl list(QStringLiteral("http://127.0.0.1:%1/json").arg(devToolsPort));
                QNetworkReply *reply = network.get(QNetworkRequest(list));
                QObject::connect(reply, &QNetworkReply::finished, &host, [&, reply, root] {
                    reply->deleteLater();
                    QStringList urls;
                    for (const QJsonValue target : QJsonDocument::fromJson(reply->readAll()).array())
                        urls << target.toObject().value(QStringLiteral("url")).toString();
                    const bool ok = urls.filter(QStringLiteral("/devtools.hta")).size() == 1 &&
                                    urls.filter(QStringLiteral("/devtools-dialog.htm")).size() == 1;
                    ok ? ++passed : ++failed;
                    out() << (ok ? "PASS " : "FAIL ") << "DevTools lists the window and its modal dialog: "
                          << urls.join(QStringLiteral(", ")) << Qt::endl;
                    QFile signal(root + QStringLiteral("/files/continue"));
                    if (signal.open(QIODevice::WriteOnly))
                        signal.write("continue");
                });
            } else if (report.value(QStringLiteral("ready")).toBool() && options.secondStart) {
                // The second start must hand over to the running host and end by itself.
                QObject::connect(&second, &QProcess::finished, &host, [&](int code, QProcess::ExitStatus status) {
                    const bool ok = status == QProcess::NormalExit && code == 0 && host.state() == QProcess::Running;
                    ok ? ++passed : ++failed;
                    out() << (ok ? "PASS " : "FAIL ") << "a second start of a single-instance application opens no window"
                          << Qt::endl;
                    ::kill(static_cast<pid_t>(host.processId()), SIGTERM);
                });
                second.start(options.host, hostArguments);
            } else if (report.value(QStringLiteral("ready")).toBool() && options.terminateWhenReady) {
                out() << "ready: ending the session" << Qt::endl;
                ::kill(static_cast<pid_t>(host.processId()), SIGTERM);
            } else if (report.contains(QStringLiteral("case"))) {
                const bool ok = report.value(QStringLiteral("ok")).toBool();
                ok ? ++passed : ++failed;
                out() << (ok ? "PASS " : "FAIL ") << report.value(QStringLiteral("case")).toString();
                if (!ok)
                    out() << "\n    " << report.value(QStringLiteral("message")).toString();
                out() << Qt::endl;
            } else if (report.value(QStringLiteral("done")).toBool()) {
                done = true;
                // A page that cannot close itself (no bridge) is closed as at the end of a session.
                QTimer::singleShot(10000, &host, [&host] { host.terminate(); });
            }
        }
    });

    // Pages that run beside the main one, each in a host of its own; their cases count alike.
    struct Beside {
        QString page;
        QProcess process;
        QByteArray pending;
        bool done = false;
    };
    std::vector<std::unique_ptr<Beside>> beside;
    // The other machine: its own registry (with both libraries registered) and runtime folder,
    // on the same files.
    QProcessEnvironment elsewhere = QProcessEnvironment::systemEnvironment();
    if (!options.elsewherePages.isEmpty()) {
        for (const char *folder : {"elsewhere/registry", "elsewhere/runtime"})
            QDir(root).mkpath(QLatin1String(folder));
        elsewhere.insert(QStringLiteral("TAVRELO_REGISTRY_DIR"), root + QStringLiteral("/elsewhere/registry"));
        elsewhere.insert(QStringLiteral("TAVRELO_RUNTIME_DIR"), root + QStringLiteral("/elsewhere/runtime"));
        if (!registerLibrary(options, options.helpers, elsewhere) || !registerLibrary(options, options.pages, elsewhere))
            return 1;
    }
    const auto allFinished = [&] {
        return host.state() == QProcess::NotRunning &&
               std::ranges::all_of(beside, [](const auto &b) { return b->process.state() == QProcess::NotRunning; });
    };
    QStringList besidePages = options.alsoPages;
    besidePages << options.elsewherePages;
    for (qsizetype index = 0; index < besidePages.size(); ++index) {
        const QString &page = besidePages.at(index);
        auto b = std::make_unique<Beside>();
        b->page = page;
        Beside *run = b.get();
        QObject::connect(&run->process, &QProcess::readyReadStandardError, &host, [&, run] {
            run->pending += run->process.readAllStandardError();
            qsizetype end;
            while ((end = run->pending.indexOf('\n')) >= 0) {
                const QByteArray line = run->pending.left(end);
                run->pending.remove(0, end + 1);
                const qsizetype marker = line.indexOf("PAGETEST ");
                if (marker < 0) {
                    out() << "  " << run->page << ": " << line << Qt::endl;
                    continue;
                }
                const QJsonObject report = QJsonDocument::fromJson(line.mid(marker + 9)).object();
                if (report.contains(QStringLiteral("case"))) {
                    const bool ok = report.value(QStringLiteral("ok")).toBool();
                    ok ? ++passed : ++failed;
                    out() << (ok ? "PASS " : "FAIL ") << run->page << ": " << report.value(QStringLiteral("case")).toString();
                    if (!ok)
                        out() << "\n    " << report.value(QStringLiteral("message")).toString();
                    out() << Qt::endl;
                } else if (report.value(QStringLiteral("done")).toBool()) {
                    run->done = true;
                    QTimer::singleShot(10000, &run->process, [run] { run->process.terminate(); });
                }
            }
        });
        QObject::connect(&run->process, &QProcess::finished, &app, [&] {
            if (allFinished())
                QCoreApplication::quit();
        });
        QStringList arguments = options.hostOptions;
        arguments << QStringLiteral("res://") + pages + u'/' + page << root << options.helpers << options.pageArguments;
        if (index >= options.alsoPages.size())
            run->process.setProcessEnvironment(elsewhere);
        run->process.start(options.host, arguments);
        beside.push_back(std::move(b));
    }

    QObject::connect(&host, &QProcess::finished, &app, [&] {
        if (allFinished())
            QCoreApplication::quit();
    });
    QTimer::singleShot(options.timeoutMs, &app, [&] {
        out() << "TIMEOUT after " << options.timeoutMs << " ms" << Qt::endl;
        host.kill();
        for (const auto &b : beside)
            b->process.kill();
    });
    host.start(options.host, hostArguments);
    if (!host.waitForStarted(30000)) {
        out() << "cannot start " << options.host << Qt::endl;
        return 1;
    }
    QCoreApplication::exec();
    host.waitForFinished(5000);
    for (const auto &b : beside) {
        b->process.waitForFinished(5000);
        if (!b->done)
            out() << b->page << " did not finish" << Qt::endl;
        done = done && b->done && b->process.exitStatus() == QProcess::NormalExit;
    }
    for (const QFileInfo &file : QDir(root + QStringLiteral("/well-formed")).entryInfoList(QDir::Files)) {
        QProcess xmllint;
        xmllint.start(QStringLiteral("xmllint"), {QStringLiteral("--noout"), file.filePath()});
        const bool wellFormed = xmllint.waitForFinished(30000) && xmllint.exitStatus() == QProcess::NormalExit && xmllint.exitCode() == 0;
        if (!wellFormed)
            out() << "FAIL xmllint --noout " << file.fileName() << ": " << xmllint.readAllStandardError() << Qt::endl;
        ++(wellFormed ? passed : failed);
    }
    out() << passed << " passed, " << failed << " failed" << (done ? "" : ", a page did not finish") << Qt::endl;
    return done && failed == 0 && passed > 0 && host.exitStatus() == QProcess::NormalExit ? 0 : 1;
}

// Stands in for a program the native host or the desktop starts (the capture dialog's host,
// Clipvane): appends one JSON line to $FAKE_PROGRAM_LOG with its arguments and, when it was
// given --menu-arguments, that file's text and permissions; then waits until the file
// $FAKE_DIALOG_RELEASE exists (when set), writes $FAKE_DIALOG_STDERR to standard error and ends
// with the status $FAKE_DIALOG_EXIT ("crash": by a signal).

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    QJsonObject record{{QStringLiteral("argv"), QJsonArray::fromStringList(arguments)},
                       {QStringLiteral("pid"), qint64(QCoreApplication::applicationPid())}};
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--menu-arguments")); at >= 0 && at + 1 < arguments.size()) {
        QFile file(arguments.at(at + 1));
        if (file.open(QIODevice::ReadOnly))
            record.insert(QStringLiteral("menuArguments"), QString::fromUtf8(file.readAll()));
        record.insert(QStringLiteral("permissions"), int(QFileInfo(file).permissions() & 0x0777));
    }
    const QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
    const int log = ::open(qgetenv("FAKE_PROGRAM_LOG").constData(), O_WRONLY | O_APPEND | O_CREAT, 0600);
    if (log < 0 || ::write(log, line.constData(), size_t(line.size())) != line.size())
        return 99;
    ::close(log);

    const auto finish = [] {
        const QByteArray message = qgetenv("FAKE_DIALOG_STDERR");
        if (!message.isEmpty())
            std::fprintf(stderr, "%s\n", message.constData());
        const QByteArray status = qgetenv("FAKE_DIALOG_EXIT");
        if (status == "crash")
            std::abort();
        std::exit(status.toInt());
    };
    const QString release = QString::fromLocal8Bit(qgetenv("FAKE_DIALOG_RELEASE"));
    if (release.isEmpty() || QFileInfo::exists(release))
        finish();
    // Waits for the release file to appear in its folder.
    QFileSystemWatcher watcher({QFileInfo(release).absolutePath()});
    QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, [&] {
        if (QFileInfo::exists(release))
            finish();
    });
    if (QFileInfo::exists(release)) // appeared while the watch was set up
        finish();
    return QCoreApplication::exec();
}

// fakeviewer: the viewer in the launcher's tests. Writes to the file $FAKEVIEWER_OUT, as JSON,
// {"arguments": [...], "folder": <current folder>, "pid": N, "probe": $FAKEVIEWER_PROBE}, then,
// as $FAKEVIEWER_MODE says: "exit" ends at once; "stay" stays until it is ended (a minute at
// most); "close" waits for the splash endpoint, posts it the close message, adds "postedAt" (ms
// since the epoch, taken just before posting) to the file, and stays.

#include "ipc/endpoint.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QThread>

#include <unistd.h>

namespace {

bool write(const QJsonObject &record)
{
    QSaveFile file(qEnvironmentVariable("FAKEVIEWER_OUT"));
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(record).toJson()) > 0 && file.commit();
}

}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QJsonObject record{{QStringLiteral("arguments"), QJsonArray::fromStringList(app.arguments().mid(1))},
                       {QStringLiteral("folder"), QDir::currentPath()},
                       {QStringLiteral("pid"), qint64(getpid())},
                       {QStringLiteral("probe"), qEnvironmentVariable("FAKEVIEWER_PROBE")}};
    const QString mode = qEnvironmentVariable("FAKEVIEWER_MODE");
    if (!write(record) || mode == u"exit")
        return 0;

    const QDeadlineTimer lifetime(60000);
    if (mode == u"close") {
        QList<tavrelo::ipc::EndpointId> splash;
        while ((splash = tavrelo::ipc::findEndpoints("Tavrelo Quillet Splash Window", QByteArray("Tavrelo Splash")))
                   .isEmpty() &&
               !lifetime.hasExpired())
            QThread::msleep(10);
        record.insert(QStringLiteral("postedAt"), QDateTime::currentMSecsSinceEpoch());
        if (splash.isEmpty() || !tavrelo::ipc::postMessage(splash.first(), "Tavrelo~Quillet~Splash~Window~Close", 0, 0) ||
            !write(record))
            return 1;
    }
    QThread::msleep(static_cast<unsigned long>(std::max<qint64>(lifetime.remainingTime(), 0)));
    return 0;
}

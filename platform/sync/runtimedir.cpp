#include "runtimedir.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace tavrelo::sync {

QString runtimeDirectory()
{
    QString directory = qEnvironmentVariable("TAVRELO_RUNTIME_DIR");
    if (directory.isEmpty()) {
        const QString base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        directory = (base.isEmpty() ? QDir::tempPath() : base) + QStringLiteral("/tavrelo");
    }
    QDir().mkpath(directory);
    QFile::setPermissions(directory, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return directory;
}

}

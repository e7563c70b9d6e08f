#include "mailbridge.h"

#include "outbox.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace tavrelo::mailbridge {

namespace {

QString encoded(const QString &path, const QByteArray &keep = {})
{
    return QString::fromLatin1(QUrl::toPercentEncoding(path, keep));
}

} // namespace

QStringList commandLine(mail::ProgramKind kind, const QStringList &attachments)
{
    QStringList arguments;
    switch (kind) {
    case mail::ProgramKind::Thunderbird: {
        QStringList addresses;
        for (const QString &path : attachments)
            addresses << QStringLiteral("file://") + encoded(path, "/");
        arguments << QStringLiteral("-compose");
        if (!addresses.isEmpty())
            arguments << QStringLiteral("attachment='") + addresses.join(u',') + u'\'';
        break;
    }
    case mail::ProgramKind::Evolution: {
        QStringList values;
        for (const QString &path : attachments)
            values << QStringLiteral("attach=") + encoded(path);
        arguments << QStringLiteral("mailto:") + (values.isEmpty() ? QString() : u'?' + values.join(u'&'));
        break;
    }
    case mail::ProgramKind::XdgEmail:
        arguments << QStringLiteral("--utf8");
        for (const QString &path : attachments)
            arguments << QStringLiteral("--attach") << path;
        break;
    }
    return arguments;
}

ULONG sendMail(mail::ProgramKind kind, const MapiMessage *message)
{
    if (!message || (message->nFileCount > 0 && !message->lpFiles))
        return MAPI_E_FAILURE;
    const QString program =
        QStandardPaths::findExecutable(QString::fromLatin1(mail::mailProgram(kind).executable));
    if (program.isEmpty())
        return MAPI_E_FAILURE;

    Outbox outbox;
    QStringList copies;
    for (ULONG i = 0; i < message->nFileCount; ++i) {
        const MapiFileDesc &file = message->lpFiles[i];
        const QString source = file.lpszPathName ? QFile::decodeName(file.lpszPathName) : QString();
        const QString shownName = file.lpszFileName ? QFile::decodeName(file.lpszFileName) : QString();
        QString copy;
        if (const ULONG result = outbox.add(source, shownName, &copy); result != SUCCESS_SUCCESS) {
            outbox.discard();
            return result;
        }
        copies << copy;
    }
    if (!QProcess::startDetached(program, commandLine(kind, copies))) {
        outbox.discard();
        return MAPI_E_FAILURE;
    }
    return SUCCESS_SUCCESS;
}

} // namespace tavrelo::mailbridge

#include "mailregistration.h"

#include "mail/mailclients.h"
#include "mail/programs.h"

#include "registry/regkey.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <optional>

namespace tavrelo::registration {

using namespace registry;
using mail::MailProgram;
using mail::ProgramKind;

namespace {

constexpr const char *kClientsParentKey = "SOFTWARE\\Clients";
constexpr int kHandlerQueryMs = 10000;

// The mail clients are machine entries. A registration without the right to change the machine
// hive (a user's own installation) leaves them out and goes on; other failures fail it.
HRESULT resultOf(LONG error)
{
    return error == ERROR_SUCCESS || error == ERROR_ACCESS_DENIED ? S_OK : HRESULT_FROM_WIN32(error);
}

bool hasSubKey(HKEY key, const QString &name)
{
    RegKey opened;
    return !name.isEmpty() && RegKey::open(key, name, KEY_QUERY_VALUE, &opened) == ERROR_SUCCESS;
}

// An entry is ours when it has one of our names and its library is our client's, in a clients
// folder (of whichever installation wrote it).
bool isOurEntry(HKEY clients, const MailProgram &program)
{
    RegKey key;
    if (RegKey::open(clients, QLatin1String(program.subKey), KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    const QFileInfo library(key.string(QLatin1String(mail::kLibraryValue)).value_or(QString()));
    return library.isAbsolute() && library.fileName() == QLatin1String(program.libraryFile) &&
           library.dir().dirName() == QLatin1String(mail::kClientsFolder);
}

// The desktop's handler of mailto: addresses: the id of its desktop entry, and the file name of
// the program its Exec line starts (empty when the entry cannot be read).
struct MailHandler {
    QString desktopId;
    QString program;
};

QString execProgram(const QString &desktopFile)
{
    QFile file(desktopFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    bool inEntry = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[')) {
            inEntry = line == u"[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (inEntry && equals > 0 && QStringView(line).left(equals).trimmed() == u"Exec")
            return QFileInfo(QProcess::splitCommand(QStringView(line).mid(equals + 1)).value(0)).fileName();
    }
    return {};
}

MailHandler desktopMailHandler()
{
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("x-scheme-handler/mailto")});
    if (!query.waitForFinished(kHandlerQueryMs)) {
        query.kill(); // not installed (then this returns at once), or hanging
        query.waitForFinished();
        return {};
    }
    if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0)
        return {};
    const QString id = QString::fromUtf8(query.readAllStandardOutput()).section(u'\n', 0, 0).trimmed();
    if (id.isEmpty() || id.contains(u'/'))
        return {};
    const QString file = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, id);
    return {id, file.isEmpty() ? QString() : execProgram(file)};
}

bool namesThunderbird(const QString &name)
{
    return name.contains(u"thunderbird", Qt::CaseInsensitive) || name.contains(u"icedove", Qt::CaseInsensitive);
}

// A program is offered when it is on PATH and its client library is there. xdg-email passes
// attachments on only to a Thunderbird (or Icedove) handler and drops them for every other one,
// so it is offered only with such a handler.
bool isOffered(const MailProgram &program, const QString &library, const MailHandler &handler)
{
    if (!QFileInfo(library).isFile() || QStandardPaths::findExecutable(QLatin1String(program.executable)).isEmpty())
        return false;
    return program.kind != ProgramKind::XdgEmail || namesThunderbird(handler.program);
}

// The written client that serves the desktop's handler: the program itself, else xdg-email
// (written only for a handler it can attach through).
const MailProgram *defaultProgram(const QList<const MailProgram *> &written, const MailHandler &handler)
{
    const auto find = [&](ProgramKind kind) -> const MailProgram * {
        for (const MailProgram *program : written) {
            if (program->kind == kind)
                return program;
        }
        return nullptr;
    };
    const QString names = handler.desktopId + u' ' + handler.program;
    const MailProgram *direct = nullptr;
    if (namesThunderbird(names))
        direct = find(ProgramKind::Thunderbird);
    else if (names.contains(u"evolution", Qt::CaseInsensitive))
        direct = find(ProgramKind::Evolution);
    return direct ? direct : find(ProgramKind::XdgEmail);
}

LONG writeEntry(HKEY clients, const MailProgram &program, const QString &library)
{
    RegKey entry;
    LONG error = RegKey::create(clients, QLatin1String(program.subKey), &entry);
    if (error == ERROR_SUCCESS)
        error = entry.setString(QString(), QLatin1String(program.displayName));
    if (error == ERROR_SUCCESS)
        error = entry.setString(QLatin1String(mail::kLibraryValue), library);
    return error;
}

} // namespace

namespace mailregistration {

HRESULT unregisterClients()
{
    RegKey clients;
    const LONG opened = RegKey::open(HKEY_LOCAL_MACHINE, QLatin1String(mail::kClientsKey), KEY_ALL_ACCESS, &clients);
    if (opened == ERROR_FILE_NOT_FOUND)
        return S_OK;
    if (opened != ERROR_SUCCESS)
        return resultOf(opened);
    const QString defaultKey = mail::defaultClientKey(clients.handle());
    bool defaultRemoved = false;
    for (const MailProgram &program : mail::kMailPrograms) {
        if (!isOurEntry(clients.handle(), program))
            continue;
        if (const LONG error = RegDeleteTree(clients.handle(), program.subKey); error != ERROR_SUCCESS)
            return resultOf(error);
        defaultRemoved = defaultRemoved || defaultKey.compare(QLatin1String(program.subKey), Qt::CaseInsensitive) == 0;
    }
    if (defaultRemoved) {
        if (const LONG error = clients.deleteValue(QString()); error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND)
            return resultOf(error);
    }
    clients = RegKey();
    deleteKeyIfEmpty(HKEY_LOCAL_MACHINE, QLatin1String(mail::kClientsKey));
    deleteKeyIfEmpty(HKEY_LOCAL_MACHINE, QLatin1String(kClientsParentKey));
    return S_OK;
}

HRESULT registerClients(const QString &helpersLibrary)
{
    if (const HRESULT hr = unregisterClients(); FAILED(hr))
        return hr;
    const MailHandler handler = desktopMailHandler();
    const QString folder = QFileInfo(helpersLibrary).absolutePath() + u'/' + QLatin1String(mail::kClientsFolder);
    QList<std::pair<const MailProgram *, QString>> offered;
    for (const MailProgram &program : mail::kMailPrograms) {
        const QString library = folder + u'/' + QLatin1String(program.libraryFile);
        if (isOffered(program, library, handler))
            offered.append({&program, library});
    }
    if (offered.isEmpty())
        return S_OK;

    RegKey clients;
    if (const LONG error = RegKey::create(HKEY_LOCAL_MACHINE, QLatin1String(mail::kClientsKey), &clients);
        error != ERROR_SUCCESS)
        return resultOf(error);
    QList<const MailProgram *> written;
    for (const auto &[program, library] : offered) {
        if (hasSubKey(clients.handle(), QLatin1String(program->subKey)))
            continue; // another's entry under our name stays as it is
        if (const LONG error = writeEntry(clients.handle(), *program, library); error != ERROR_SUCCESS)
            return resultOf(error);
        written << program;
    }
    // A default that names another's client stays; one that names nothing is replaced.
    if (const QString defaultKey = mail::defaultClientKey(clients.handle()); !hasSubKey(clients.handle(), defaultKey)) {
        if (const MailProgram *program = defaultProgram(written, handler))
            return resultOf(clients.setString(QString(), QLatin1String(program->subKey)));
    }
    return S_OK;
}

} // namespace mailregistration

} // namespace tavrelo::registration

#include "capture.h"

#include "shell/commandline.h"
#include "shell/htahandler.h"

#include "registry/regkey.h"

#include <QFileInfo>

namespace tavrelo::nativehost {

using namespace tavrelo::registry;

namespace {

constexpr const char *kMenuEntryKey = "Software\\Microsoft\\Internet Explorer\\MenuExt\\Grab &Selected Text...";
constexpr const char *kButtonKey =
    "Software\\Microsoft\\Internet Explorer\\Extensions\\{CDE56277-42BE-11d4-B79C-00C0F04903DC}";
constexpr const char *kFileOpenKey = "Tavrelo Clipvane.File\\Shell\\Open\\Command";

QString stringValue(HKEY root, const char *path, const char *name = "")
{
    RegKey key;
    if (RegKey::open(root, QString::fromUtf8(path), KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return {};
    return key.string(QString::fromUtf8(name)).value_or(QString());
}

bool isProgram(const QString &path)
{
    const QFileInfo file(path);
    return file.isAbsolute() && file.isFile() && file.isExecutable();
}

} // namespace

CapturePage capturePage()
{
    // The user's own registration first, else the machine's (an installed package's).
    QString page = stringValue(HKEY_CURRENT_USER, kMenuEntryKey);
    if (page.isEmpty())
        page = stringValue(HKEY_LOCAL_MACHINE, kMenuEntryKey);
    if (!page.startsWith(u"res://"))
        return {{}, QStringLiteral("Clipvane is not registered: the capture page is unknown")};
    return {page, {}};
}

Command captureDialogCommand(const QString &menuArgumentsFile)
{
    const CapturePage registered = capturePage();
    if (!registered.error.isEmpty())
        return {{}, {}, registered.error};
    const QString &page = registered.address;
    const tavrelo::shell::HtaOpenCommand open = tavrelo::shell::findHtaOpenCommand();
    if (open.outcome != tavrelo::shell::HtaOpenCommand::Outcome::Found)
        return {{}, {}, QStringLiteral("no program is registered to run HTML Applications")};
    // The registered command with the page in it; the dialog's options go before the page.
    QStringList words = tavrelo::shell::splitCommandLine(
        tavrelo::shell::expandCommandTemplate(open.commandTemplate, page, QString()));
    if (words.isEmpty())
        return {{}, {}, QStringLiteral("the program registered to run HTML Applications is empty")};
    const QString program = words.takeFirst();
    const qsizetype at = words.indexOf(page);
    if (at < 0)
        return {{}, {}, QStringLiteral("the command registered for HTML Applications does not take the page")};
    words.insert(at, menuArgumentsFile);
    words.insert(at, QStringLiteral("--menu-arguments"));
    words.insert(at, QStringLiteral("--dialog"));
    return {program, words, {}};
}

Command launcherCommand()
{
    // The toolbar button's program; else the one that opens collection files.
    QString program = stringValue(HKEY_LOCAL_MACHINE, kButtonKey, "Exec");
    if (!isProgram(program)) {
        const QStringList words = tavrelo::shell::splitCommandLine(stringValue(HKEY_CLASSES_ROOT, kFileOpenKey));
        program = words.value(0);
    }
    if (!isProgram(program))
        return {{}, {}, QStringLiteral("Clipvane is not registered: its program is unknown")};
    return {program, {}, {}};
}

DialogOutcome dialogOutcome(bool crashed, int exitStatus, const QString &lastErrorLine)
{
    if (!crashed && exitStatus == 0)
        return {true, QStringLiteral("stored"), {}};
    if (!crashed && exitStatus == 1)
        return {true, QStringLiteral("cancelled"), {}};
    QString error = crashed ? QStringLiteral("the capture dialog ended abnormally")
                            : QStringLiteral("the capture dialog failed (exit status %1)").arg(exitStatus);
    if (!lastErrorLine.isEmpty())
        error += QStringLiteral(": ") + lastErrorLine;
    return {false, {}, error};
}

} // namespace tavrelo::nativehost

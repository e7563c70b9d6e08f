// clipvane-regsvr: registers an in-process server library (or, with -u, removes its
// registration) by loading it and calling its DllRegisterServer (DllUnregisterServer) entry.
// With -m it calls DllInstall(install, "machine") instead: the registration for every user of the
// machine (as a package's maintainer scripts do it, as root), which leaves the caller's own hive
// and home alone. The entry writes into the registry layer, so TAVRELO_REGISTRY_DIR redirects it
// like any other registry user.

#include "automation/classes.h"
#include "automation/hresult.h"
#include "automation/module.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QString>

#include <cstdio>

namespace {

constexpr int kFailed = 1;
constexpr int kUsageError = 2;

void print(std::FILE *stream, const QString &text)
{
    std::fputs((text + u'\n').toLocal8Bit().constData(), stream);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("clipvane-regsvr"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CLIPVANE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Registers an in-process server library (calls its DllRegisterServer), or removes its registration."));
    const QCommandLineOption unregisterOption(QStringLiteral("u"), QStringLiteral("Unregister (call DllUnregisterServer)."));
    const QCommandLineOption machineOption(QStringList{QStringLiteral("m"), QStringLiteral("machine")},
                                           QStringLiteral("Machine-wide, for every user (call DllInstall with \"machine\")."));
    const QCommandLineOption silentOption(QStringLiteral("s"), QStringLiteral("Silent: print nothing, report through the exit status."));
    parser.addOptions({unregisterOption, machineOption, silentOption});
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("library"), QStringLiteral("The library to register."));
    const auto usageError = [&parser](const QString &problem) {
        print(stderr, QStringLiteral("clipvane-regsvr: ") + problem);
        print(stderr, parser.helpText());
        return kUsageError;
    };
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption)) {
        print(stdout, parser.helpText());
        return 0;
    }
    if (parser.isSet(versionOption)) {
        parser.showVersion(); // prints the name and version, ends the program with 0
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1 || positional.front().isEmpty())
        return usageError(positional.isEmpty() ? QStringLiteral("no library given") : QStringLiteral("one library at a time"));
    const bool unregister = parser.isSet(unregisterOption);
    const bool silent = parser.isSet(silentOption);
    const bool machine = parser.isSet(machineOption);
    const QString library = positional.front();

    // The absolute path: a bare file name means the file here, not a search of library folders.
    const QString path = QFileInfo(library).absoluteFilePath();
    const char *entryName = machine ? "DllInstall" : unregister ? "DllUnregisterServer" : "DllRegisterServer";
    const QString entryText = QString::fromLatin1(entryName);

    QString error;
    void *module = tavrelo::automation::loadModule(path, &error);
    if (!module) {
        if (!silent)
            print(stderr, QStringLiteral("clipvane-regsvr: cannot load ") + path + QStringLiteral(": ") + error);
        return kFailed;
    }
    void *const entry = tavrelo::automation::moduleEntry(module, entryName);
    if (!entry) {
        if (!silent)
            print(stderr, path + QStringLiteral(" was loaded but has no entry ") + entryText);
        return kFailed;
    }
    const HRESULT hr = machine ? reinterpret_cast<DllInstallFunction>(entry)(unregister ? 0 : 1, "machine")
                               : reinterpret_cast<DllRegisterServerFunction>(entry)();
    if (FAILED(hr)) {
        if (!silent)
            print(stderr, entryText + QStringLiteral(" in ") + path + QStringLiteral(" failed: ") +
                              tavrelo::automation::describeHResult(hr));
        return kFailed;
    }
    if (!silent)
        print(stdout, entryText + QStringLiteral(" in ") + path + QStringLiteral(" succeeded."));
    return 0;
}

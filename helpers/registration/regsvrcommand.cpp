// clipvane-regsvr: registers an in-process server library (or, with -u, removes its
// registration) by loading it and calling its DllRegisterServer (DllUnregisterServer) entry.
// With -m it calls DllInstall(install, "machine") instead: the registration for every user of the
// machine (as a package's maintainer scripts do it, as root), which leaves the caller's own hive
// and home alone. The entry writes into the registry layer, so TAVRELO_REGISTRY_DIR redirects it
// like any other registry user.

#include "automation/classes.h"
#include "automation/hresult.h"
#include "automation/module.h"

#include <QByteArray>
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

int usage(std::FILE *stream, int exitCode)
{
    print(stream, QStringLiteral("usage: clipvane-regsvr [-u] [-m] [-s] <library>\n"
                                 "  -u  unregister (call DllUnregisterServer)\n"
                                 "  -m  machine-wide, for every user (call DllInstall with \"machine\")\n"
                                 "  -s  silent: print nothing, report through the exit status"));
    return exitCode;
}

} // namespace

int main(int argc, char **argv)
{
    bool unregister = false;
    bool silent = false;
    bool machine = false;
    bool optionsEnd = false;
    QString library;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (!optionsEnd && arg == u"--")
            optionsEnd = true;
        else if (!optionsEnd && arg == u"-u")
            unregister = true;
        else if (!optionsEnd && arg == u"-s")
            silent = true;
        else if (!optionsEnd && (arg == u"-m" || arg == u"--machine"))
            machine = true;
        else if (!optionsEnd && (arg == u"-h" || arg == u"--help"))
            return usage(stdout, 0);
        else if (!optionsEnd && arg.startsWith(u'-') && arg.size() > 1) {
            print(stderr, QStringLiteral("clipvane-regsvr: unknown option ") + arg);
            return usage(stderr, kUsageError);
        } else if (library.isEmpty() && !arg.isEmpty())
            library = arg;
        else
            return usage(stderr, kUsageError);
    }
    if (library.isEmpty())
        return usage(stderr, kUsageError);

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

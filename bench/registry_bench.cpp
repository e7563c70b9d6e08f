// How much the registry costs over the bare file work it cannot avoid.
//
// Every registry call reads its hive afresh (so that it sees other processes' writes) and every
// change is locked, written to a temporary file, flushed and renamed. The references do that
// bare file work without parsing or locking; the ratios say what the registry adds on top.

#include "object/quillet.h"
#include "registry/winreg.h"

#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

using namespace tavrelo::registry;
using namespace tavrelo::helpers;

namespace {

double microsecondsPerCall(int calls, const std::function<void(int)> &call)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i)
        call(i);
    const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
    return spent.count() / calls;
}

void report(const char *what, double measured, const char *reference, double referenceTime)
{
    std::printf("%-44s %9.1f us   %5.1fx %s (%.1f us)\n", what, measured, measured / referenceTime, reference,
                referenceTime);
}

} // namespace

int main()
{
    QTemporaryDir dir;
    qputenv("TAVRELO_REGISTRY_DIR", dir.path().toUtf8());

    // A realistic user hive: the viewer's settings and five recent files.
    const ComPtr<Quillet> object = Quillet::create();
    Quillet &helper = *object.get();
    const QString module = QStringLiteral("Quillet");
    for (int i = 0; i < 5; ++i)
        helper.put_RegistryString(module, QStringLiteral("PreviousFile%1").arg(i), 2,
                                  QStringLiteral("/home/ann/Documents/Collections/Project %1.t-q").arg(i));
    for (const char *name : {"LeftPanePercent", "LeftPaneHidden", "SortBy", "SortDirection", "VisibilityShowTitle",
                             "VisibilityShowDate", "VisibilityShowText", "VisibilityShowComment", "VisibilityShowURL"})
        helper.put_RegistryDWORD(module, QString::fromLatin1(name), 2, 1);
    const QString hive = dir.filePath(QStringLiteral("user.reg"));
    std::printf("user hive: %lld bytes\n\n", static_cast<long long>(QFile(hive).size()));

    constexpr int kReads = 3000;
    const double rawRead = microsecondsPerCall(kReads, [&](int) {
        QFile file(hive);
        file.open(QIODevice::ReadOnly);
        file.readAll();
    });
    QString text;
    std::int32_t number = 0;
    report("RegistryString get (user hit)",
           microsecondsPerCall(kReads, [&](int) { helper.get_RegistryString(module, QStringLiteral("PreviousFile3"), 2, &text); }),
           "one raw read of the hive", rawRead);
    report("RegistryDWORD get (user miss, machine miss)",
           microsecondsPerCall(kReads, [&](int) { helper.get_RegistryDWORD(module, QStringLiteral("Absent"), 2, &number); }),
           "one raw read of the hive", rawRead);
    HKEY key = nullptr;
    RegOpenKeyEx(HKEY_CURRENT_USER, "SOFTWARE\\Tavrelo\\Quillet\\Quillet", KEY_READ, &key);
    report("RegQueryValueEx on an open key",
           microsecondsPerCall(kReads,
                               [&](int) {
                                   DWORD size = 0;
                                   RegQueryValueEx(key, "SortBy", nullptr, nullptr, &size);
                               }),
           "one raw read of the hive", rawRead);
    RegCloseKey(key);

    constexpr int kWrites = 200;
    const QString scratch = dir.filePath(QStringLiteral("reference.txt"));
    QFile source(hive);
    source.open(QIODevice::ReadOnly);
    const QByteArray bytes = source.readAll();
    const double rawWrite = microsecondsPerCall(kWrites, [&](int) {
        QSaveFile file(scratch); // temporary file, flush to disk, rename
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        file.commit();
    });
    report("RegistryDWORD put",
           microsecondsPerCall(kWrites, [&](int i) { helper.put_RegistryDWORD(module, QStringLiteral("SortBy"), 2, i); }),
           "one atomic raw write of the hive", rawWrite);
    return 0;
}

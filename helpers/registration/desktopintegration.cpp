#include "desktopintegration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

#include "automation/module.h"

#include <functional>

namespace tavrelo::registration::desktopintegration {

namespace {

constexpr const char *kHostName = CLIPVANE_NATIVE_HOST_NAME;
constexpr const char *kDesktopFile = "tavrelo-clipvane.desktop";
constexpr const char *kMimeFile = "tavrelo-clipvane.xml";
constexpr const char *kMimeType = "application/x-tavrelo-clipvane";
constexpr const char *kAppIcon = "tavrelo-clipvane";
// The class (X11) and app id (Wayland) of every window of ours, as the programs set it
// (shell/desktopidentity.h): a dock matches the windows to this entry by it.
constexpr const char *kWindowClass = "tavrelo-clipvane";
constexpr const char *kFileIcon = "application-x-tavrelo-clipvane";
constexpr int kIconSizes[] = {16, 32};
constexpr int kToolMs = 30000;

QString env(const char *name) { return QString::fromLocal8Bit(qgetenv(name)); }

bool enabled() { return qgetenv("TAVRELO_REGISTRY_DIR").isEmpty() || !qgetenv("TAVRELO_SYSTEM_ROOT").isEmpty(); }

QString homeFolder() { return QDir::homePath(); }

QString xdgFolder(const char *variable, const char *fallback)
{
    const QString value = env(variable);
    return QDir::isAbsolutePath(value) ? value : QString(homeFolder() + u'/' + QLatin1String(fallback));
}
QString configHome() { return xdgFolder("XDG_CONFIG_HOME", ".config"); }
QString dataHome() { return xdgFolder("XDG_DATA_HOME", ".local/share"); }

// A folder of the system (an absolute path, or one relative to /), under TAVRELO_SYSTEM_ROOT
// when that is set.
QString systemFolder(const QString &path)
{
    const QString root = env("TAVRELO_SYSTEM_ROOT");
    return QDir::cleanPath((root.isEmpty() ? QStringLiteral("/") : root) + u'/' + path);
}

QString manifestName() { return QLatin1String(kHostName) + QStringLiteral(".json"); }

struct Manifest {
    QString folder;
    bool systemWide;
    bool firefox;
};

// Where one registration writes: the browsers' manifest folders and the data folder that holds
// applications/, mime/ and icons/.
struct Places {
    QList<Manifest> manifests;
    QString data;
    bool machine;
};

Places places(Scope scope, const QString &library)
{
    const QList<Manifest> system{{systemFolder(QStringLiteral("etc/chromium/native-messaging-hosts")), true, false},
                                 {systemFolder(QStringLiteral("usr/lib/mozilla/native-messaging-hosts")), true, true}};
    if (scope == Scope::Machine) {
        const QString data = QDir::cleanPath(QFileInfo(library).absolutePath() + QStringLiteral("/" CLIPVANE_LIB_TO_DATA));
        return {system, systemFolder(data), true};
    }
    return {QList<Manifest>{{configHome() + QStringLiteral("/chromium/NativeMessagingHosts"), false, false},
                            {homeFolder() + QStringLiteral("/.mozilla/native-messaging-hosts"), false, true}} +
                system,
            dataHome(), false};
}

QByteArray manifestText(const QString &nativeHost, bool firefox)
{
    QJsonObject manifest{{QStringLiteral("name"), QLatin1String(kHostName)},
                         {QStringLiteral("description"), QStringLiteral("Tavrelo Clipvane")},
                         {QStringLiteral("path"), nativeHost},
                         {QStringLiteral("type"), QStringLiteral("stdio")}};
    if (firefox)
        manifest.insert(QStringLiteral("allowed_extensions"), QJsonArray{QLatin1String(CLIPVANE_FIREFOX_EXTENSION_ID)});
    else
        manifest.insert(QStringLiteral("allowed_origins"),
                        QJsonArray{QStringLiteral("chrome-extension://" CLIPVANE_CHROMIUM_EXTENSION_ID "/")});
    return QJsonDocument(manifest).toJson(QJsonDocument::Indented);
}

// The desktop entry's escapes of a string value.
QString escapedValue(QString text) { return text.replace(u'\\', QStringLiteral("\\\\")); }

// Version names the version of the desktop-entry format the entry follows: 1.4 has every key used here,
// and is the newest that Debian 12's desktop-file-validate knows.
QString desktopEntry(const QString &launcher)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Version=1.4\n"
                          "Name=Tavrelo Clipvane\n"
                          "Comment=Start Tavrelo Clipvane to view saved texts\n"
                          "Exec=%1\n"
                          "Icon=%2\n"
                          "Terminal=false\n"
                          "Categories=Utility;\n"
                          "MimeType=%3;\n"
                          "StartupWMClass=%4\n")
        .arg(execLine(launcher), QLatin1String(kAppIcon), QLatin1String(kMimeType), QLatin1String(kWindowClass));
}

QByteArray mimeInfo()
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
                          "  <mime-type type=\"%1\">\n"
                          "    <comment>Tavrelo Clipvane File</comment>\n"
                          "    <sub-class-of type=\"application/xml\"/>\n"
                          "    <icon name=\"%2\"/>\n"
                          "    <glob pattern=\"*.t-q\"/>\n"
                          "  </mime-type>\n"
                          "</mime-info>\n")
        .arg(QLatin1String(kMimeType), QLatin1String(kFileIcon))
        .toUtf8();
}

// Writes the whole file at once (a temporary file renamed over it), creating its folder.
HRESULT writeFile(const QString &path, const QByteArray &bytes)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        return E_ACCESSDENIED;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return file.error() == QFileDevice::PermissionsError || file.error() == QFileDevice::OpenError ? E_ACCESSDENIED
                                                                                                         : E_FAIL;
    return S_OK;
}

HRESULT removeFile(const QString &path)
{
    if (!QFileInfo::exists(path) || QFile::remove(path))
        return S_OK;
    return E_ACCESSDENIED;
}

// May this process write into `folder` (or make it)? The first existing folder on its way up
// decides.
bool mayWriteInto(QString folder)
{
    for (QFileInfo info(folder);; info = QFileInfo(info.path())) {
        if (info.exists())
            return info.isDir() && info.isWritable();
        if (info.path() == info.filePath())
            return false;
    }
}

QString iconPath(const QString &data, int size, const char *context, const char *name)
{
    return data + QStringLiteral("/icons/hicolor/%1x%1/%2/%3.png").arg(size).arg(QLatin1String(context), QLatin1String(name));
}

void runTool(const QString &tool, const QStringList &arguments)
{
    const QString program = QStandardPaths::findExecutable(tool);
    if (program.isEmpty())
        return;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(kToolMs))
        process.kill();
    process.waitForFinished();
}

void refreshDatabases(const QString &data)
{
    const QString mime = data + QStringLiteral("/mime");
    if (QFileInfo(mime + QStringLiteral("/packages")).isDir())
        runTool(QStringLiteral("update-mime-database"), {mime});
    const QString applications = data + QStringLiteral("/applications");
    if (QFileInfo(applications).isDir())
        runTool(QStringLiteral("update-desktop-database"), {applications});
    const QString icons = data + QStringLiteral("/icons/hicolor");
    if (QFileInfo::exists(icons + QStringLiteral("/index.theme")))
        runTool(QStringLiteral("gtk-update-icon-cache"), {QStringLiteral("-q"), icons});
}

} // namespace

QString execLine(const QString &launcher)
{
    // Inside a quoted argument ", `, $ and \ take a backslash; % is a field code unless doubled.
    QString quoted;
    for (const QChar c : launcher) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
        if (c == u'%')
            quoted += u'%';
    }
    return escapedValue(u'"' + quoted + QStringLiteral("\" %f"));
}

HRESULT registerDesktop(const Programs &programs, Scope scope)
{
    if (!enabled())
        return S_OK;
    // A line break cannot be written into a desktop entry's or manifest's program.
    for (const QString &path : {programs.launcher, programs.nativeHost}) {
        for (const QChar c : path) {
            if (c.category() == QChar::Other_Control)
                return E_INVALIDARG;
        }
    }
    const Places where = places(scope, programs.library);
    for (const Manifest &manifest : where.manifests) {
        const QString path = manifest.folder + u'/' + manifestName();
        // The browsers' system folders belong to the machine: a user's registration writes them
        // when it may, else leaves them.
        if (manifest.systemWide && !where.machine && !mayWriteInto(manifest.folder))
            continue;
        if (const HRESULT hr = writeFile(path, manifestText(programs.nativeHost, manifest.firefox)); FAILED(hr))
            return hr;
    }
    HRESULT hr = writeFile(where.data + QStringLiteral("/applications/") + QLatin1String(kDesktopFile),
                           desktopEntry(programs.launcher).toUtf8());
    if (SUCCEEDED(hr))
        hr = writeFile(where.data + QStringLiteral("/mime/packages/") + QLatin1String(kMimeFile), mimeInfo());
    for (const int size : kIconSizes) {
        QByteArray png;
        if (FAILED(hr) || FAILED(tavrelo::automation::loadModuleResource(programs.library, QStringLiteral("ICON"),
                                                                          QStringLiteral("clipvane-%1.png").arg(size), &png)))
            continue;
        hr = writeFile(iconPath(where.data, size, "apps", kAppIcon), png);
        if (SUCCEEDED(hr))
            hr = writeFile(iconPath(where.data, size, "mimetypes", kFileIcon), png);
    }
    refreshDatabases(where.data);
    return hr;
}

HRESULT unregisterDesktop(const QString &library, Scope scope)
{
    if (!enabled())
        return S_OK;
    HRESULT result = S_OK;
    const auto remove = [&result](const QString &path) {
        if (const HRESULT hr = removeFile(path); FAILED(hr) && SUCCEEDED(result))
            result = hr;
    };
    const Places where = places(scope, library);
    for (const Manifest &manifest : where.manifests) {
        if (!manifest.systemWide || where.machine || mayWriteInto(manifest.folder))
            remove(manifest.folder + u'/' + manifestName());
    }
    remove(where.data + QStringLiteral("/applications/") + QLatin1String(kDesktopFile));
    remove(where.data + QStringLiteral("/mime/packages/") + QLatin1String(kMimeFile));
    for (const int size : kIconSizes) {
        remove(iconPath(where.data, size, "apps", kAppIcon));
        remove(iconPath(where.data, size, "mimetypes", kFileIcon));
    }
    refreshDatabases(where.data);
    return result;
}

} // namespace tavrelo::registration::desktopintegration

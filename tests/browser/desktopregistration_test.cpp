// What registering the helper library (the real clipvane-regsvr) writes for the browser and the
// desktop: the registry entries of the file type, the context-menu entry and the toolbar button,
// and beside them the native-messaging manifests, the desktop entry, the collection file type and
// the icons, all in scratch folders; and what unregistering takes away again.

#include "browsertest.h"

#include "support/registryprobe.h"
#include "support/eventloop.h"
#include "support/scratchregistry.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace registryprobe;

namespace {

QString str(const char *text) { return QString::fromUtf8(text); }

const QString kMenuExt = str("Software\\Microsoft\\Internet Explorer\\MenuExt");
const QString kMenuEntry = kMenuExt + str("\\Grab &Selected Text...");
const QString kExtensions = str("Software\\Microsoft\\Internet Explorer\\Extensions");
const QString kButton = kExtensions + str("\\{CDE56277-42BE-11d4-B79C-00C0F04903DC}");
const QString kClass = str("CLSID\\{C588106B-4E66-11D4-B7AB-00C0F04903DC}");

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonObject readJson(const QString &path) { return QJsonDocument::fromJson(readAll(path)).object(); }

// The words of a desktop entry's Exec value with %f given `file`, read by the rules of the
// The desktop-entry rules: string escapes first, then quoting, then field codes.
QStringList execWords(const QString &value, const QString &file)
{
    QString unescaped;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == u'\\' && i + 1 < value.size()) {
            const QChar next = value[++i];
            unescaped += next == u's' ? u' ' : next == u'n' ? u'\n' : next == u't' ? u'\t' : next == u'r' ? u'\r' : next;
        } else {
            unescaped += value[i];
        }
    }
    QStringList words;
    QString word;
    bool inWord = false;
    bool quoted = false;
    for (qsizetype i = 0; i < unescaped.size(); ++i) {
        const QChar c = unescaped[i];
        if (quoted) {
            if (c == u'\\' && i + 1 < unescaped.size() && QStringView(u"\"`$\\").contains(unescaped[i + 1]))
                word += unescaped[++i];
            else if (c == u'"')
                quoted = false;
            else
                word += c;
        } else if (c == u'"') {
            quoted = inWord = true;
        } else if (c == u' ') {
            if (inWord)
                words.append(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.append(word);
    for (QString &w : words) {
        if (w == u"%f")
            w = file;
        else
            w.replace(str("%%"), str("%"));
    }
    return words;
}

QString desktopValue(const QByteArray &entry, const QString &key)
{
    for (const QByteArray &line : entry.split('\n')) {
        if (line.startsWith(QByteArray(key.toUtf8() + '=')))
            return QString::fromUtf8(line.mid(key.size() + 1));
    }
    return {};
}

class DesktopRegistration : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        for (const char *name : {"home", "config", "data", "system"})
            ASSERT_TRUE(QDir().mkpath(m_dir.filePath(str(name))));
        m_saved = {{"HOME", qgetenv("HOME")}, {"XDG_CONFIG_HOME", qgetenv("XDG_CONFIG_HOME")},
                   {"XDG_DATA_HOME", qgetenv("XDG_DATA_HOME")}};
        qputenv("HOME", home().toUtf8());
        qputenv("XDG_CONFIG_HOME", config().toUtf8());
        qputenv("XDG_DATA_HOME", data().toUtf8());
        qputenv("TAVRELO_SYSTEM_ROOT", system().toUtf8());
    }
    void TearDown() override
    {
        for (const auto &[name, value] : m_saved)
            qputenv(name, value);
        qunsetenv("TAVRELO_SYSTEM_ROOT");
    }

    QString home() const { return m_dir.filePath(str("home")); }
    QString config() const { return m_dir.filePath(str("config")); }
    QString data() const { return m_dir.filePath(str("data")); }
    QString system() const { return m_dir.filePath(str("system")); }
    QString manifestName() const { return str(CLIPVANE_NATIVE_HOST_NAME ".json"); }
    QStringList chromiumManifests() const
    {
        return {config() + str("/chromium/NativeMessagingHosts/") + manifestName(),
                system() + str("/etc/chromium/native-messaging-hosts/") + manifestName()};
    }
    QStringList firefoxManifests() const
    {
        return {home() + str("/.mozilla/native-messaging-hosts/") + manifestName(),
                system() + str("/usr/lib/mozilla/native-messaging-hosts/") + manifestName()};
    }
    QString desktopFile() const { return data() + str("/applications/tavrelo-clipvane.desktop"); }
    QString mimeFile() const { return data() + str("/mime/packages/tavrelo-clipvane.xml"); }
    QStringList iconFiles() const
    {
        QStringList files;
        for (const char *size : {"16x16", "32x32"}) {
            files << data() + str("/icons/hicolor/%1/apps/tavrelo-clipvane.png").arg(str(size))
                  << data() + str("/icons/hicolor/%1/mimetypes/application-x-tavrelo-clipvane.png").arg(str(size));
        }
        return files;
    }
    QStringList ourFiles() const
    {
        return chromiumManifests() + firefoxManifests() + QStringList{desktopFile(), mimeFile()} + iconFiles();
    }

    static void regsvr(const QStringList &arguments)
    {
        const ProcessResult result = runProgram(str(CLIPVANE_REGSVR), arguments);
        ASSERT_EQ(result.exitCode, 0) << result.err;
    }
    static QString library() { return QFileInfo(str(HELPERS_LIBRARY)).absoluteFilePath(); }

    // An installed tree under a folder whose name needs quoting everywhere: the library, and
    // fakeprogram as Clipvane and as the native host.
    struct Installed {
        QString library, launcher, nativeHost;
    };
    Installed install()
    {
        const QString prefix = m_dir.filePath(str("it's \"my\" $own \\folder"));
        Installed tree{QDir::cleanPath(prefix + str("/" INSTALL_LIBDIR "/libTavreloHelpers.so")),
                       QDir::cleanPath(prefix + str("/" INSTALL_BINDIR "/Clipvane")),
                       QDir::cleanPath(prefix + str("/" INSTALL_BINDIR "/clipvane-native-host"))};
        EXPECT_TRUE(QDir().mkpath(QFileInfo(tree.library).path()) && QDir().mkpath(QFileInfo(tree.launcher).path()));
        EXPECT_TRUE(QFile::copy(library(), tree.library));
        EXPECT_TRUE(QFile::copy(str(FAKE_PROGRAM), tree.launcher));
        EXPECT_TRUE(QFile::copy(str(NATIVE_HOST), tree.nativeHost));
        return tree;
    }

    ScratchRegistry m_registry;
    QTemporaryDir m_dir;
    QList<std::pair<const char *, QByteArray>> m_saved;
};

TEST_F(DesktopRegistration, writesTheFileTypeTheMenuEntryAndTheButtonOnceHoweverOftenItRuns)
{
    regsvr({library()});
    // Leftovers of an older version inside the force-removed keys.
    ASSERT_TRUE(setString(HKEY_CURRENT_USER, kMenuEntry, str("Stale"), str("old")));
    ASSERT_TRUE(setString(HKEY_LOCAL_MACHINE, kButton, str("Stale"), str("old")));
    ASSERT_TRUE(setString(HKEY_CLASSES_ROOT, kClass + str("\\Stale"), QString(), str("old")));
    regsvr({library()});

    const QString launcher = QFileInfo(str(BUILT_LAUNCHER)).absoluteFilePath();
    EXPECT_EQ(stringValue(HKEY_CLASSES_ROOT, str(".t-q")), str("Tavrelo Clipvane.File"));
    EXPECT_EQ(stringValue(HKEY_CLASSES_ROOT, str("Tavrelo Clipvane.File")), str("Tavrelo Clipvane File"));
    EXPECT_EQ(stringValue(HKEY_CLASSES_ROOT, str("Tavrelo Clipvane.File\\DefaultIcon")), launcher + str(",0"));
    EXPECT_EQ(stringValue(HKEY_CLASSES_ROOT, str("Tavrelo Clipvane.File\\Shell\\Open\\Command")),
              u'"' + launcher + str("\" \"%1\""));

    EXPECT_EQ(subKeys(HKEY_CURRENT_USER, kMenuExt), QStringList{str("Grab &Selected Text...")});
    EXPECT_EQ(stringValue(HKEY_CURRENT_USER, kMenuEntry), str("res://") + library() + str("/ktGrab.htm"));
    EXPECT_EQ(valueNames(HKEY_CURRENT_USER, kMenuEntry), (QStringList{QString(), str("Contexts"), str("Flags")}));
    const auto contexts = rawValue(HKEY_CURRENT_USER, kMenuEntry, str("Contexts"));
    ASSERT_TRUE(contexts);
    EXPECT_EQ(contexts->first, DWORD(REG_DWORD));
    EXPECT_EQ(contexts->second, QByteArray("\x10\x00\x00\x00", 4));
    EXPECT_EQ(rawValue(HKEY_CURRENT_USER, kMenuEntry, str("Flags"))->second, QByteArray("\x01\x00\x00\x00", 4));

    EXPECT_EQ(subKeys(HKEY_LOCAL_MACHINE, kExtensions), QStringList{str("{CDE56277-42BE-11d4-B79C-00C0F04903DC}")});
    EXPECT_EQ(valueNames(HKEY_LOCAL_MACHINE, kButton),
              (QStringList{str("Default Visible"), str("ButtonText"), str("HotIcon"), str("Icon"), str("CLSID"), str("Exec"),
                           str("MenuText"), str("MenuStatusBar")}));
    EXPECT_EQ(stringValue(HKEY_LOCAL_MACHINE, kButton, str("Default Visible")), str("Yes"));
    EXPECT_EQ(stringValue(HKEY_LOCAL_MACHINE, kButton, str("ButtonText")), str("Clipvane"));
    EXPECT_EQ(stringValue(HKEY_LOCAL_MACHINE, kButton, str("HotIcon")), launcher + str(",1"));
    EXPECT_EQ(stringValue(HKEY_LOCAL_MACHINE, kButton, str("Icon")), launcher + str(",2"));
    EXPECT_EQ(stringValue(HKEY_LOCAL_MACHINE, kButton, str("CLSID")), str("{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}"));
    EXPECT_EQ(stringValue(HKEY_LOCAL_MACHINE, kButton, str("Exec")), launcher);
    EXPECT_EQ(stringValue(HKEY_LOCAL_MACHINE, kButton, str("MenuText")), str("Tavrelo &Clipvane"));
    EXPECT_EQ(stringValue(HKEY_LOCAL_MACHINE, kButton, str("MenuStatusBar")), str("Start Tavrelo Clipvane to view saved texts"));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kClass + str("\\Stale")));

    // Unregistering takes the class, the entry and the button whole, and leaves their parents.
    ASSERT_TRUE(setString(HKEY_CLASSES_ROOT, str("CLSID\\{00000000-1111-2222-3333-444444444444}"), QString(), str("other")));
    regsvr({str("-u"), library()});
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kClass));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, str("Tavrelo Clipvane.File")));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, str(".t-q")));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kMenuEntry));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kButton));
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, str("CLSID\\{00000000-1111-2222-3333-444444444444}")));
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, kMenuExt));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, kExtensions));
}

TEST_F(DesktopRegistration, writesTheManifestsDesktopEntryFileTypeAndIconsAndRemovesExactlyThose)
{
    // Someone else's files in the same folders.
    const QString otherManifest = config() + str("/chromium/NativeMessagingHosts/org.example.other.json");
    const QString otherEntry = data() + str("/applications/other.desktop");
    for (const QString &path : {otherManifest, otherEntry}) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        ScratchRegistry::writeFile(path, "theirs");
    }
    regsvr({library()});
    regsvr({library()});
    for (const QString &path : ourFiles())
        EXPECT_TRUE(QFileInfo::exists(path)) << path.toStdString();

    const QString nativeHost = QFileInfo(str(NATIVE_HOST)).absoluteFilePath();
    for (const QString &path : chromiumManifests()) {
        const QJsonObject manifest = readJson(path);
        EXPECT_EQ(manifest.value("name").toString(), str(CLIPVANE_NATIVE_HOST_NAME));
        EXPECT_EQ(manifest.value("path").toString(), nativeHost);
        EXPECT_EQ(manifest.value("type").toString(), str("stdio"));
        EXPECT_EQ(manifest.value("allowed_origins"), QJsonArray{str("chrome-extension://" CLIPVANE_CHROMIUM_EXTENSION_ID "/")});
        EXPECT_FALSE(manifest.contains("allowed_extensions"));
    }
    for (const QString &path : firefoxManifests()) {
        const QJsonObject manifest = readJson(path);
        EXPECT_EQ(manifest.value("path").toString(), nativeHost);
        EXPECT_EQ(manifest.value("allowed_extensions"), QJsonArray{str(CLIPVANE_FIREFOX_EXTENSION_ID)});
        EXPECT_FALSE(manifest.contains("allowed_origins"));
    }
    const QByteArray entry = readAll(desktopFile());
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\n"));
    EXPECT_EQ(desktopValue(entry, str("MimeType")), str("application/x-tavrelo-clipvane;"));
    EXPECT_EQ(desktopValue(entry, str("Icon")), str("tavrelo-clipvane"));
    EXPECT_EQ(desktopValue(entry, str("StartupWMClass")), str("tavrelo-clipvane")) << "the windows' class";
    EXPECT_TRUE(readAll(mimeFile()).contains("<glob pattern=\"*.t-q\"/>"));
    for (const QString &icon : iconFiles())
        EXPECT_TRUE(readAll(icon).startsWith("\x89PNG\r\n\x1a\n")) << icon.toStdString();
    const bool mimeTool = !QStandardPaths::findExecutable(str("update-mime-database")).isEmpty();
    if (mimeTool) {
        EXPECT_TRUE(readAll(data() + str("/mime/globs2")).contains("application/x-tavrelo-clipvane:*.t-q"));
    }

    regsvr({str("-u"), library()});
    for (const QString &path : ourFiles())
        EXPECT_FALSE(QFileInfo::exists(path)) << path.toStdString();
    EXPECT_EQ(readAll(otherManifest), QByteArray("theirs"));
    EXPECT_EQ(readAll(otherEntry), QByteArray("theirs"));
    if (mimeTool) {
        EXPECT_FALSE(readAll(data() + str("/mime/globs2")).contains("*.t-q"));
    }
}

TEST_F(DesktopRegistration, aLibraryUnderAPathWithQuotesOpensCollectionsThroughTheDesktopEntry)
{
    const Installed tree = install();
    regsvr({tree.library});
    EXPECT_EQ(stringValue(HKEY_CLASSES_ROOT, kClass + str("\\InprocServer32")), tree.library);
    EXPECT_EQ(stringValue(HKEY_CURRENT_USER, kMenuEntry), str("res://") + tree.library + str("/ktGrab.htm"));
    EXPECT_EQ(stringValue(HKEY_LOCAL_MACHINE, kButton, str("Exec")), tree.launcher);
    EXPECT_EQ(readJson(chromiumManifests()[0]).value("path").toString(), tree.nativeHost);

    const QString collection = m_dir.filePath(str("my notes 50% 'done'.t-q"));
    ScratchRegistry::writeFile(collection, "<root/>");
    const QString exec = desktopValue(readAll(desktopFile()), str("Exec"));
    EXPECT_EQ(execWords(exec, collection), (QStringList{tree.launcher, collection})) << exec.toStdString();

    // The desktop itself opens the file through the entry.
    const QString gio = QStandardPaths::findExecutable(str("gio"));
    if (gio.isEmpty())
        GTEST_SKIP() << "gio is not installed: the Exec line was checked, not run";
    const QString log = m_dir.filePath(str("launched.log"));
    qputenv("FAKE_PROGRAM_LOG", log.toUtf8());
    const ProcessResult launched = runProgram(gio, {str("launch"), desktopFile(), collection});
    ASSERT_EQ(launched.exitCode, 0) << launched.err;
    ASSERT_TRUE(turnUntil([&] { return readAll(log).endsWith('\n'); }, kDeadlineMs));
    const QJsonObject record = QJsonDocument::fromJson(readAll(log).trimmed()).object();
    EXPECT_EQ(record.value("argv"), QJsonArray{collection});
}

TEST_F(DesktopRegistration, theExtensionsBuiltForEachBrowserCarryTheIdsTheManifestsAllow)
{
    // Chromium's id of an unpacked extension: the SHA-256 of its public key, the first 32 hex
    // digits written with the letters a to p.
    const QByteArray key = QByteArray::fromBase64(CLIPVANE_CHROMIUM_EXTENSION_KEY);
    QString id;
    for (const char digit : QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(32))
        id += QChar(u'a' + QByteArray(1, digit).toInt(nullptr, 16));
    EXPECT_EQ(id, str(CLIPVANE_CHROMIUM_EXTENSION_ID));

    const QJsonObject chromium = readJson(str(EXTENSION_DIR "/chromium/manifest.json"));
    const QJsonObject firefox = readJson(str(EXTENSION_DIR "/firefox/manifest.json"));
    EXPECT_EQ(chromium.value("manifest_version").toInt(), 3);
    EXPECT_EQ(chromium.value("key").toString(), str(CLIPVANE_CHROMIUM_EXTENSION_KEY));
    EXPECT_EQ(chromium["background"]["service_worker"].toString(), str("background.js"));
    EXPECT_EQ(firefox.value("manifest_version").toInt(), 3);
    EXPECT_EQ(firefox["browser_specific_settings"]["gecko"]["id"].toString(), str(CLIPVANE_FIREFOX_EXTENSION_ID));
    EXPECT_EQ(firefox["background"]["scripts"], QJsonArray{str("background.js")});
    EXPECT_FALSE(firefox.contains("key"));
    for (const QJsonObject &manifest : {chromium, firefox}) {
        EXPECT_EQ(manifest["action"]["default_title"].toString(), str("Start Tavrelo Clipvane to view saved texts"));
        EXPECT_TRUE(manifest.value("permissions").toArray().contains(str("nativeMessaging")));
    }
    for (const char *browser : {"chromium", "firefox"}) {
        const QByteArray script = readAll(str(EXTENSION_DIR "/%1/background.js").arg(str(browser)));
        EXPECT_TRUE(script.contains("const kNativeHost = \"" CLIPVANE_NATIVE_HOST_NAME "\";")) << browser;
        EXPECT_TRUE(script.contains("\"Grab &Selected Text...\"")) << browser;
        for (const char *icon : {"clipvane-16.png", "clipvane-32.png"})
            EXPECT_TRUE(readAll(str(EXTENSION_DIR "/%1/%2").arg(str(browser), str(icon))).startsWith("\x89PNG")) << icon;
    }
}

TEST_F(DesktopRegistration, aPrivateRegistryWithoutASystemRootLeavesTheDesktopAlone)
{
    qunsetenv("TAVRELO_SYSTEM_ROOT");
    regsvr({library()});
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, kMenuEntry));
    for (const QString &path : ourFiles())
        EXPECT_FALSE(QFileInfo::exists(path)) << path.toStdString();
}

TEST_F(DesktopRegistration, aMachineWideRegistrationWritesForEveryUserAndLeavesTheCallersOwnAlone)
{
    const Installed tree = install();
    // The caller's own entries, which a machine-wide registration neither reads into nor removes.
    ASSERT_TRUE(setString(HKEY_CURRENT_USER, str("Software\\Classes\\.t-q"), QString(), str("Mine.File")));
    ASSERT_TRUE(setString(HKEY_CURRENT_USER, kMenuEntry, QString(), str("res://mine/ktGrab.htm")));
    const QByteArray userHive = readAll(m_registry.userHive());

    regsvr({str("-m"), tree.library});
    EXPECT_EQ(readAll(m_registry.userHive()), userHive);
    EXPECT_EQ(stringValue(HKEY_LOCAL_MACHINE, str("Software\\Classes\\.t-q")), str("Tavrelo Clipvane.File"));
    EXPECT_EQ(stringValue(HKEY_LOCAL_MACHINE, str("Software\\Classes\\") + kClass + str("\\InprocServer32")), tree.library);
    EXPECT_EQ(stringValue(HKEY_LOCAL_MACHINE, kMenuEntry), str("res://") + tree.library + str("/ktGrab.htm"));
    EXPECT_EQ(stringValue(HKEY_LOCAL_MACHINE, kButton, str("Exec")), tree.launcher);

    // The desktop's files in the installation's data folder (share beside lib), the manifests in
    // the browsers' system folders only; nothing in the caller's home.
    const QString share = system() + QDir::cleanPath(QFileInfo(tree.library).path() + str("/../../share"));
    QStringList machineFiles{share + str("/applications/tavrelo-clipvane.desktop"),
                             share + str("/mime/packages/tavrelo-clipvane.xml")};
    for (const char *icon : {"16x16/apps/tavrelo-clipvane", "32x32/mimetypes/application-x-tavrelo-clipvane"})
        machineFiles << share + str("/icons/hicolor/%1.png").arg(str(icon));
    machineFiles << chromiumManifests()[1] << firefoxManifests()[1];
    for (const QString &path : machineFiles)
        EXPECT_TRUE(QFileInfo::exists(path)) << path.toStdString();
    EXPECT_EQ(readJson(chromiumManifests()[1]).value("path").toString(), tree.nativeHost);
    EXPECT_EQ(execWords(desktopValue(readAll(machineFiles[0]), str("Exec")), str("/f.t-q")),
              (QStringList{tree.launcher, str("/f.t-q")}));
    for (const QString &path : QStringList{chromiumManifests()[0], firefoxManifests()[0], desktopFile(), mimeFile()})
        EXPECT_FALSE(QFileInfo::exists(path)) << path.toStdString();

    regsvr({str("-u"), str("-m"), tree.library});
    for (const QString &path : machineFiles)
        EXPECT_FALSE(QFileInfo::exists(path)) << path.toStdString();
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, str("Software\\Classes\\.t-q")));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kMenuEntry));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kButton));
    EXPECT_EQ(readAll(m_registry.userHive()), userHive);
}

} // namespace

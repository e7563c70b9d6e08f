// Registering the helper library (by the real clipvane-regsvr, in a private registry) makes
// htahost the program that runs HTML Applications, as the launcher finds it; unregistering takes
// that away again.

#include "shell/commandline.h"
#include "shell/htahandler.h"
#include "launcher/viewerprocess.h"

#include "support/registryprobe.h"
#include "launchertest.h"
#include "support/scratchregistry.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tavrelo::launcher;
using namespace tavrelo::shell;
using namespace registryprobe;

namespace {

QString str(const char *text) { return QString::fromUtf8(text); }

void regsvr(const QStringList &arguments)
{
    const ProcessResult result = runProgram(str(CLIPVANE_REGSVR), arguments);
    EXPECT_EQ(result.exitCode, 0) << result.err;
}

// The program the launcher would start for the library at `library`.
QString programStartedFor(const QString &library)
{
    const HtaOpenCommand command = findHtaOpenCommand();
    EXPECT_EQ(command.outcome, HtaOpenCommand::Outcome::Found);
    const QStringList words = splitCommandLine(
        expandCommandTemplate(command.commandTemplate, viewerAddress(library), argumentString({str("a b")})));
    EXPECT_EQ(words.mid(1), (QStringList{viewerAddress(library), str("a b")}));
    return words.value(0);
}

}

TEST(HtaRegistration, namesTheHostBesideTheLibraryOrTheBuiltOneAndGoesWithTheLibrary)
{
    ScratchRegistry registry;
    const QString library = QFileInfo(str(HELPERS_LIBRARY)).absoluteFilePath();
    regsvr({library});
    EXPECT_EQ(stringValue(HKEY_CLASSES_ROOT, str(".hta")), str("htafile"));
    EXPECT_EQ(stringValue(HKEY_CLASSES_ROOT, str("htafile")), str("HTML Application"));
    const QString built = QFileInfo(str(BUILT_HTAHOST)).absoluteFilePath();
    EXPECT_EQ(stringValue(HKEY_CLASSES_ROOT, str("htafile\\shell\\open\\command")), u'"' + built + str("\" \"%1\" %*"));
    EXPECT_EQ(programStartedFor(library), built);

    // Unregistering leaves what someone else put under .hta, and nothing of its own.
    ASSERT_TRUE(setString(HKEY_CLASSES_ROOT, str(".hta"), str("Content Type"), str("application/hta")));
    regsvr({str("-u"), library});
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, str("htafile")));
    EXPECT_EQ(valueNames(HKEY_CLASSES_ROOT, str(".hta")), QStringList{str("Content Type")});
    EXPECT_EQ(findHtaOpenCommand().outcome, HtaOpenCommand::Outcome::NoFileClass);

    // An installed tree, whose path needs quoting in the script (') and in the command (%).
    QTemporaryDir root;
    const QString prefix = root.filePath(str("it's 100% mine"));
    const QString installed = QDir::cleanPath(prefix + str("/" INSTALL_LIBDIR "/libTavreloHelpers.so"));
    const QString host = QDir::cleanPath(prefix + str("/" INSTALL_BINDIR "/htahost"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(installed).path()) && QDir().mkpath(QFileInfo(host).path()));
    ASSERT_TRUE(QFile::copy(library, installed));
    ASSERT_TRUE(QFile::copy(str(CLIPVANE_REGSVR), host)) << "any program will do";
    regsvr({installed});
    EXPECT_EQ(programStartedFor(installed), host);
}

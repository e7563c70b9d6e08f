// The launcher's command lines: its arguments as one text, the open-command template filled in,
// the result split back into a program and its arguments, and the viewer's address.

#include "shell/commandline.h"
#include "launcher/viewerprocess.h"

#include "launchertest.h"

#include <gtest/gtest.h>

using namespace tavrelo::launcher;
using namespace tavrelo::shell;

namespace {

const QString kAddress = QStringLiteral("res:///usr/lib/libTavreloHelpers.so/TavTracker.hta");

QString expand(const char *commandTemplate, const QString &arguments = QStringLiteral("\"/home/me/My notes.t-q\""))
{
    return expandCommandTemplate(QString::fromUtf8(commandTemplate), kAddress, arguments);
}

}

TEST(CommandTemplate, usualTemplateQuotesHostAddressAndArguments)
{
    EXPECT_EQ(expand(R"("/usr/bin/htahost" "%1" %*)"),
              QStringLiteral(R"("/usr/bin/htahost" "res:///usr/lib/libTavreloHelpers.so/TavTracker.hta" "/home/me/My notes.t-q")"));
    EXPECT_EQ(expand(R"(htahost "%1" %*)", QString()), u"htahost \"" + kAddress + u"\" ") << "no arguments";
}

TEST(CommandTemplate, percentRules)
{
    EXPECT_EQ(expand("a%%b %%1 100%%"), QStringLiteral("a%b %1 100%"));
    EXPECT_EQ(expand("[%2][%L][%10][%L42x][%9*]"), QStringLiteral("[][][][x][*]"))
        << "the character after % and the digits after it vanish";
    EXPECT_EQ(expand("[%1]0"), u"[" + kAddress + u"]0");
    EXPECT_EQ(expand("[%12]"), QStringLiteral("[]")) << "%1 followed by a digit is no address";
    EXPECT_EQ(expand("run %"), QStringLiteral("run "));
    EXPECT_EQ(expand("%"), QString());
    EXPECT_EQ(expand("%1"), kAddress);
    EXPECT_EQ(expand("x %* y", QString()), QStringLiteral("x  y"));
    EXPECT_EQ(expand("%*%*", QStringLiteral("\"a\"")), QStringLiteral("\"a\"\"a\""));
}

TEST(ArgumentString, eachArgumentQuotedAndJoinedBySpaces)
{
    EXPECT_EQ(argumentString({}), QString());
    EXPECT_EQ(argumentString({QString()}), QStringLiteral("\"\""));
    EXPECT_EQ(argumentString({QStringLiteral("/home/me/My notes.t-q"), QStringLiteral("plain")}),
              QStringLiteral("\"/home/me/My notes.t-q\" \"plain\""));
    EXPECT_EQ(argumentString({QStringLiteral("say \"hi\"")}), QStringLiteral(R"("say \"hi\"")"));
    EXPECT_EQ(argumentString({QStringLiteral(R"(a\b)"), QStringLiteral(R"(end\)")}), QStringLiteral(R"("a\b" "end\\")"))
        << "a backslash is doubled only before a quote";
}

TEST(CommandSplitting, quotedStretchesAndEscapedQuotes)
{
    EXPECT_EQ(splitCommandLine(u"  \"/opt/my host/htahost\"  \"res:///a b/l.so/T.hta\" plain\t\"\" "),
              (QStringList{QStringLiteral("/opt/my host/htahost"), QStringLiteral("res:///a b/l.so/T.hta"),
                           QStringLiteral("plain"), QString()}));
    EXPECT_EQ(splitCommandLine(uR"(a"b c"d \"q\" x\\\"y "e\\" f\\g)"),
              (QStringList{QStringLiteral("ab cd"), QStringLiteral("\"q\""), QStringLiteral(R"(x\"y)"),
                           QStringLiteral(R"(e\)"), QStringLiteral(R"(f\\g)")}));
    EXPECT_EQ(splitCommandLine(u"   "), QStringList());
    EXPECT_EQ(splitCommandLine(u"\"open ended"), QStringList{QStringLiteral("open ended")});

    // What the argument string holds comes back whole.
    const QStringList awkward{QStringLiteral("with \"quotes\" and \\\"both\\"), QString(), QStringLiteral("a\tb"),
                              QStringLiteral("trailing\\\\")};
    EXPECT_EQ(splitCommandLine(QString(QStringLiteral("prog ") + argumentString(awkward))),
              QStringList{QStringLiteral("prog")} + awkward);
}

TEST(ViewerAddress, namesTheViewerPageInsideTheLibraryUpTo520Bytes)
{
    EXPECT_EQ(viewerAddress(QStringLiteral("/usr/lib/libTavreloHelpers.so")), kAddress);
    const QString longest = u'/' + QString(516, u'x') + QStringLiteral("/é"); // 520 bytes in UTF-8
    ASSERT_EQ(longest.toUtf8().size(), 520);
    EXPECT_EQ(viewerAddress(longest), u"res://" + longest + u"/TavTracker.hta");
    EXPECT_EQ(viewerAddress(longest + u'x'), QString());
    EXPECT_EQ(viewerAddress(QString(longest).replace(QStringLiteral("é"), QStringLiteral("ée"))), QString())
        << "counted in bytes, not characters";
}

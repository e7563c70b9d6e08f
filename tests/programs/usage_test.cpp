// --help, --version and a wrong option, for every program that takes options, run as a person
// runs them from a shell: without a display (they must not need one to answer).

#include <QProcess>
#include <QString>

#include <gtest/gtest.h>

#include <string>

namespace {

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

Outcome run(const char *program, const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    process.setProcessEnvironment(environment);
    // Closed input: a native host that took the option for a browser's start would end at once.
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QString::fromUtf8(program), arguments);
    Outcome result;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << program << " did not finish";
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput().toStdString();
    result.err = process.readAllStandardError().toStdString();
    return result;
}

struct Program {
    const char *path;
    const char *name;
    const char *option; // an option the usage names
};

const Program kPrograms[] = {
    {CLIPVANE_REG_COMMAND, "clipvane-reg", "export KEY FILE"},
    {CLIPVANE_REGSVR, "clipvane-regsvr", "--machine"},
    {HTAHOST, "htahost", "--menu-arguments"},
    {NATIVE_HOST, "clipvane-native-host", "--version"},
#ifdef BENCH_COLLECTION
    {BENCH_COLLECTION, "clipvane-bench-collection", "--large-folder <L>"},
#endif
};

TEST(ProgramOptions, HelpVersionAndWrongOption)
{
    for (const Program &program : kPrograms) {
        SCOPED_TRACE(program.name);
        const Outcome help = run(program.path, {QStringLiteral("--help")});
        EXPECT_EQ(help.exitCode, 0) << help.err;
        EXPECT_NE(help.out.find("sage:"), std::string::npos) << help.out;
        EXPECT_NE(help.out.find(program.name), std::string::npos) << help.out;
        EXPECT_NE(help.out.find(program.option), std::string::npos) << help.out;

        const Outcome version = run(program.path, {QStringLiteral("--version")});
        EXPECT_EQ(version.exitCode, 0) << version.err;
        EXPECT_EQ(version.out, std::string(program.name) + " " + CLIPVANE_VERSION + "\n");

        const Outcome wrong = run(program.path, {QStringLiteral("--no-such-option")});
        EXPECT_EQ(wrong.exitCode, 2) << wrong.out;
        EXPECT_NE(wrong.err.find("no-such-option"), std::string::npos) << wrong.err;
        EXPECT_NE(wrong.err.find("sage:"), std::string::npos) << wrong.err;
        EXPECT_TRUE(wrong.out.empty()) << wrong.out;
    }
}

} // namespace

// Scripted answers to user-interface requests and the request log, also shared by processes.

#include "testsurface/uirequests.h"
#include "support/scratchregistry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QUuid>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace tavrelo::testsurface;

namespace {

QString str(const char *text) { return QString::fromUtf8(text); }

// Sets an environment variable while it lives.
class EnvironmentVariable final {
public:
    EnvironmentVariable(const char *name, const QString &value) : m_name(name) { qputenv(name, value.toLocal8Bit()); }
    ~EnvironmentVariable() { qunsetenv(m_name); }
    EnvironmentVariable(const EnvironmentVariable &) = delete;
    EnvironmentVariable &operator=(const EnvironmentVariable &) = delete;

private:
    const char *m_name;
};

QList<QJsonObject> jsonLines(const QByteArray &text)
{
    QList<QJsonObject> objects;
    for (const QByteArray &line : text.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.constData();
        EXPECT_TRUE(document.isObject()) << line.constData();
        objects.append(document.object());
    }
    return objects;
}

class ScriptedRequests : public testing::Test {
protected:
    QTemporaryDir dir;
    const QString answers = dir.filePath(QStringLiteral("answers.jsonl"));
    const QString log = dir.filePath(QStringLiteral("requests.jsonl"));
};

}

TEST_F(ScriptedRequests, answersAreTakenInOrderPerKind)
{
    EXPECT_FALSE(uiIsScripted());
    EXPECT_EQ(takeScriptedAnswer(str("message")), std::nullopt) << "not scripted";

    // Malformed lines are told once per process: these are new to it.
    const QByteArray junk = "not json " + QUuid::createUuid().toByteArray();
    const QByteArray noKind = "{\"answer\":\"" + QUuid::createUuid().toByteArray() + "\"}";
    ScratchRegistry::writeFile(answers, "{\"kind\":\"message\",\"answer\":\"ok\"}\n"
                                        "{\"kind\":\"menu\",\"answer\":3}\n" +
                                            junk + "\n{\"kind\":\"message\",\"answer\":\"cancel\"}\n" + noKind +
                                            "\n{\"kind\": \"file\", \"answer\": \"/some path\"}\n");
    const EnvironmentVariable scripted("TAVRELO_AUTOMATION", answers);
    EXPECT_TRUE(uiIsScripted());

    testing::internal::CaptureStderr();
    EXPECT_EQ(takeScriptedAnswer(str("message")), QJsonValue(str("ok")));
    EXPECT_EQ(takeScriptedAnswer(str("message")), QJsonValue(str("cancel")));
    EXPECT_EQ(takeScriptedAnswer(str("message")), std::nullopt) << "none of the kind left";
    EXPECT_EQ(takeScriptedAnswer(str("print")), std::nullopt);
    const std::string reported = testing::internal::GetCapturedStderr();
    EXPECT_NE(reported.find(junk.toStdString()), std::string::npos);
    EXPECT_EQ(reported.find(junk.toStdString()), reported.rfind(junk.toStdString())) << "reported once: " << reported;
    EXPECT_NE(reported.find(noKind.toStdString()), std::string::npos);

    // What was not taken is left as it was written.
    EXPECT_EQ(ScratchRegistry::readFile(answers), "{\"kind\":\"menu\",\"answer\":3}\n" + junk + '\n' + noKind +
                                                      "\n{\"kind\": \"file\", \"answer\": \"/some path\"}\n");
    EXPECT_EQ(takeScriptedAnswer(str("file")), QJsonValue(str("/some path")));
    EXPECT_EQ(takeScriptedAnswer(str("menu")), QJsonValue(3));
    EXPECT_EQ(ScratchRegistry::readFile(answers), junk + '\n' + noKind + '\n');

    QFile::remove(answers);
    EXPECT_EQ(takeScriptedAnswer(str("menu")), std::nullopt) << "no file: no answers";
    EXPECT_TRUE(uiIsScripted());
}

TEST_F(ScriptedRequests, logLinesAreCompleteJsonObjects)
{
    logUiRequest(QJsonObject{{str("kind"), str("message")}});
    EXPECT_FALSE(QFile::exists(log)) << "no log unless asked for";

    const EnvironmentVariable logging("TAVRELO_AUTOMATION_LOG", log);
    const QJsonObject first{{str("kind"), str("message")},
                            {str("caption"), str("Tavrelo “Quillet”")},
                            {str("text"), str("two\nlines with \"quotes\"")},
                            {str("buttons"), QJsonArray{str("OK"), str("Cancel")}},
                            {str("answer"), str("ok")}};
    const QJsonObject second{{str("kind"), str("open")}, {str("url"), str("https://example.org/?a=1&b=2")}};
    logUiRequest(first);
    logUiRequest(second);
    const QByteArray written = ScratchRegistry::readFile(log);
    EXPECT_EQ(written.count('\n'), 2) << "one line each";
    EXPECT_EQ(jsonLines(written), (QList<QJsonObject>{first, second}));
}

TEST_F(ScriptedRequests, processesSharingTheFilesNeverTakeTheSameAnswer)
{
    constexpr int kAnswers = 300;
    QByteArray lines;
    QByteArray others;
    for (int i = 0; i < kAnswers; ++i) {
        lines += "{\"kind\":\"menu\",\"answer\":" + QByteArray::number(i) + "}\n";
        if (i % 30 == 0) {
            const QByteArray other = "{\"kind\":\"message\",\"answer\":\"m" + QByteArray::number(i) + "\"}\n";
            lines += other;
            others += other;
        }
    }
    ScratchRegistry::writeFile(answers, lines);
    const EnvironmentVariable scripted("TAVRELO_AUTOMATION", answers);
    const EnvironmentVariable logging("TAVRELO_AUTOMATION_LOG", log);

    std::vector<std::unique_ptr<QProcess>> takers;
    for (int i = 0; i < 2; ++i) {
        takers.push_back(std::make_unique<QProcess>());
        takers.back()->start(QStringLiteral(ANSWER_TAKER), {str("menu")});
    }
    QList<int> taken;
    for (auto &taker : takers) {
        ASSERT_TRUE(taker->waitForFinished(120000));
        EXPECT_EQ(taker->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(taker->exitCode(), 0) << taker->readAllStandardError().constData();
        for (const QJsonObject &request : jsonLines(taker->readAllStandardOutput()))
            taken.append(request.value(str("answer")).toInt(-1));
    }
    std::sort(taken.begin(), taken.end());
    QList<int> expected;
    for (int i = 0; i < kAnswers; ++i)
        expected.append(i);
    EXPECT_EQ(taken, expected) << "each answer taken exactly once";
    EXPECT_EQ(ScratchRegistry::readFile(answers), others) << "the other kind is left, in order";

    // Both logged every request they answered, in whole lines.
    QList<int> logged;
    for (const QJsonObject &request : jsonLines(ScratchRegistry::readFile(log))) {
        EXPECT_EQ(request.value(str("kind")), QJsonValue(str("menu")));
        logged.append(request.value(str("answer")).toInt(-1));
    }
    std::sort(logged.begin(), logged.end());
    EXPECT_EQ(logged, expected);
}

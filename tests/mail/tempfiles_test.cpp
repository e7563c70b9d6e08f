// GetTempFilePath: free names in the temporary folder ($TMPDIR), found by counting.

#include "support/mailtest.h"

#include "object/quillet.h"

#include <QDir>
#include <QFileInfo>

namespace {

class TempFileNames : public ::testing::Test {
protected:
    void SetUp() override { qputenv("TMPDIR", m_temp.path().toUtf8()); }
    void TearDown() override { qunsetenv("TMPDIR"); }

    QString tempPath(const QString &name, const QString &extension)
    {
        QString path = QStringLiteral("untouched");
        EXPECT_EQ(m_helper->GetTempFilePath(name, extension, &path), S_OK);
        return path;
    }
    QString in(const char *name) const { return QDir(m_temp.path()).filePath(QString::fromUtf8(name)); }

    QTemporaryDir m_temp;
    ComPtr<Quillet> m_helper = Quillet::create();
};

}

TEST_F(TempFileNames, theFirstFreeNameCountingUpFromTheBareOne)
{
    const QString quotes = QStringLiteral("Quotes"), tq = QStringLiteral("t-q");
    EXPECT_EQ(tempPath(quotes, tq), in("Quotes.t-q"));
    EXPECT_FALSE(QFileInfo::exists(in("Quotes.t-q"))) << "the name is left free for the caller";
    writeFile(in("Quotes.t-q"));
    EXPECT_EQ(tempPath(quotes, tq), in("Quotes (1).t-q"));
    EXPECT_FALSE(QFileInfo::exists(in("Quotes (1).t-q")));
    writeFile(in("Quotes (1).t-q"));
    EXPECT_EQ(tempPath(quotes, tq), in("Quotes (2).t-q"));
    EXPECT_EQ(QDir(m_temp.path()).entryList(QDir::Files),
              (QStringList{QStringLiteral("Quotes (1).t-q"), QStringLiteral("Quotes.t-q")}));
}

TEST_F(TempFileNames, oddNamesStayInTheTemporaryFolder)
{
    EXPECT_EQ(tempPath(QStringLiteral("Bare"), QStringLiteral("")), in("Bare")) << "no trailing dot";
    writeFile(in("Bare"));
    EXPECT_EQ(tempPath(QStringLiteral("Bare"), QStringLiteral("")), in("Bare (1)"));
    EXPECT_EQ(tempPath(QStringLiteral("../a/b"), QStringLiteral("t/q")), in(".._a_b.t_q"));
    EXPECT_EQ(tempPath(QStringLiteral("/etc/x"), QStringLiteral("t-q")), in("_etc_x.t-q"));
    EXPECT_EQ(tempPath(QStringLiteral("nul") + QChar(u'\0') + QStringLiteral("x"), QStringLiteral("t-q")),
              in("nul_x.t-q"));
    for (const char *nameless : {"", ".", ".."}) { // would name the folder or its parent
        EXPECT_EQ(tempPath(QString::fromUtf8(nameless), QStringLiteral("t-q")), in("Collection.t-q")) << nameless;
        EXPECT_EQ(tempPath(QString::fromUtf8(nameless), QStringLiteral("")), in("Collection")) << nameless;
    }
    writeFile(in("100%2.t-q"));
    EXPECT_EQ(tempPath(QStringLiteral("100%2"), QStringLiteral("t-q")), in("100%2 (1).t-q"));
}

TEST_F(TempFileNames, withoutAUsableFolderTheNameIsEmpty)
{
    qputenv("TMPDIR", in("missing").toUtf8());
    EXPECT_EQ(tempPath(QStringLiteral("Quotes"), QStringLiteral("t-q")), QString());
    writeFile(in("plain"));
    qputenv("TMPDIR", in("plain").toUtf8());
    EXPECT_EQ(tempPath(QStringLiteral("Quotes"), QStringLiteral("t-q")), QString()) << "a file, not a folder";
    qputenv("TMPDIR", m_temp.path().toUtf8());
    EXPECT_EQ(tempPath(QString(300, u'q'), QStringLiteral("t-q")), QString()) << "no candidate can be created";

    QString path;
    EXPECT_EQ(m_helper->GetTempFilePath(QString(), QStringLiteral("t-q"), &path), E_POINTER);
    EXPECT_EQ(m_helper->GetTempFilePath(QStringLiteral("Quotes"), QString(), &path), E_POINTER);
    EXPECT_EQ(m_helper->GetTempFilePath(QStringLiteral("Quotes"), QStringLiteral("t-q"), nullptr), E_POINTER);
}

// Send by mail end to end: the real viewer mails the current folder through a fake mail client
// library registered like a real one; what the client received is recorded by the library.

#include "fragment_list_fixture.h"

#include <QTemporaryDir>

namespace {

class Mail : public FragmentList {
protected:
    void SetUp() override
    {
        FragmentList::SetUp();
        qputenv("TMPDIR", m_temp.path().toUtf8());
        qputenv("FAKE_MAPI_RECORD", m_temp.filePath(str("record.txt")).toUtf8());
        qputenv("FAKE_MAPI_RESULT", "3"); // MAPI_E_LOGIN_FAILURE
    }
    void TearDown() override
    {
        FragmentList::TearDown();
        for (const char *name : {"TMPDIR", "FAKE_MAPI_RECORD", "FAKE_MAPI_RESULT", "FAKE_MAPI_KEEP"})
            qunsetenv(name);
    }
    // Registers the fake library as the machine's default mail client "Example".
    static void registerClient()
    {
        using tavrelo::registry::HKEY_LOCAL_MACHINE;
        const QString clients = str("SOFTWARE\\Clients\\Mail");
        ASSERT_TRUE(registryprobe::setString(HKEY_LOCAL_MACHINE, clients + str("\\Example"), QString(), str("Example")));
        ASSERT_TRUE(registryprobe::setString(HKEY_LOCAL_MACHINE, clients + str("\\Example"), str("DllPath"), str(FAKE_MAPI_CLIENT)));
        ASSERT_TRUE(registryprobe::setString(HKEY_LOCAL_MACHINE, clients, QString(), str("Example")));
    }
    QString record() const { return QString::fromUtf8(ScratchRegistry::readFile(m_temp.filePath(str("record.txt")))); }
    QTemporaryDir m_temp;
};

TEST_F(Mail, TheCurrentFolderIsMailedAsANamedAttachmentAndFailuresNameTheClient)
{
    startOnTestCollection(4);
    // No client registered: each command says so.
    js(str("listProbe.press('SendByMailButton')"));
    js(str("listProbe.press('ShowMailClientsButton')"));
    EXPECT_EQ(messages(), QStringList({str("There are no default mail client selected."),
                                       str("There are no compatible mail clients found.")}));
    EXPECT_EQ(js(str("listProbe.looks('SendByMailButton', 'ShowMailClientsButton')")).toString(), str("flat flat"))
        << "both buttons released";

    // A client that reports a login failure; the attachment's name is taken, so it gets "(1)".
    registerClient();
    ScratchRegistry::writeFile(m_temp.filePath(str("List.t-q")), "taken");
    js(str("listProbe.press('SendByMailButton')"));
    EXPECT_EQ(messages().last(), str("Example mail client\nreported that there was\n\nlogin failure\n\nwhile attaching file to a message."));
    EXPECT_TRUE(record().contains(str("path=") + m_temp.filePath(str("List (1).t-q")))) << record().toStdString();
    EXPECT_TRUE(record().contains(str("exists=1")));
    EXPECT_FALSE(QFile::exists(m_temp.filePath(str("List (1).t-q")))) << "the temporary file is gone after the call";
    EXPECT_EQ(ScratchRegistry::readFile(m_temp.filePath(str("List.t-q"))), QByteArray("taken"));
}

// A collection in a folder whose name has a dot, its own name without one: the attachment is named
// after the file alone, and what was mailed opens as a collection of the current folder.
TEST_F(Mail, TheAttachmentTakesTheFileNameWithoutAnExtensionAndOpensAsACollection)
{
    qputenv("FAKE_MAPI_RESULT", "0");
    const QString kept = m_temp.filePath(str("received.t-q"));
    qputenv("FAKE_MAPI_KEEP", kept.toUtf8());
    registerClient();
    startOnTestCollection(3, str("my.notes/Clips"));
    js(str("listProbe.press('SendByMailButton')"));
    EXPECT_EQ(messages(), QStringList());
    EXPECT_TRUE(record().contains(str("path=") + m_temp.filePath(str("Clips")) + u'\n')) << record().toStdString();
    EXPECT_TRUE(record().contains(str("name=Clips\n"))) << record().toStdString();

    js(QStringLiteral("fnLoadFile('%1')").arg(kept));
    waitForTitle([](const QString &t) { return t.contains(str("received.t-q")); });
    EXPECT_EQ(js(str("[gsCurrentPath.endsWith('/received.t-q'), fnGetTreeHolder().textContent.includes('Child'),"
                     " fnGetDatabaseElement(goBase).selectSingleNode(cxbiNODE + '[@' + cxbiAttUnsorted + ']').getAttribute('Name'),"
                     " goBase.selectNodes('//' + cxbiFRAGMENT).length].join()"))
                  .toString(),
              str("true,true,Parent,2"))
        << "the mailed folder is the system folder below the root";

    // A collection named ".t-q" alone: the attachment takes the root folder's name, and stays in
    // the temporary folder.
    const QString nameless = m_files.filePath(str(".t-q"));
    ScratchRegistry::writeFile(nameless, savedFile());
    EXPECT_TRUE(js(QStringLiteral("fnLoadFile('%1'); gsCurrentPath == '%1' && gbCollectionOpen").arg(nameless)).toBool());
    js(str("listProbe.press('SendByMailButton')"));
    EXPECT_EQ(messages(), QStringList());
    EXPECT_TRUE(record().contains(str("path=") + m_temp.filePath(str("Mine.t-q")) + u'\n')) << record().toStdString();
}

} // namespace

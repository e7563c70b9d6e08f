// The mail members against clients registered in a private registry: the client menu (answered
// through the test surface), the default client, and sending through a fake client library that
// records the message it receives and answers each result code.

#include "support/mailtest.h"

#include "object/quillet.h"
#include "support/testsite.h"
#include "registry/winreg.h"
#include "support/scratchregistry.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QMap>
#include <QWidget>

#include <optional>
#include <tuple>

using namespace tavrelo::registry;

namespace {

const QString kFakeClient = QStringLiteral(FAKE_MAPI_CLIENT);
const QString kNoEntryLibrary = QStringLiteral(FAKE_NO_ENTRY_LIBRARY);
constexpr const char *kMailKey = "SOFTWARE\\Clients\\Mail";

void setString(const QString &key, const char *name, const QString &text, DWORD type = REG_SZ)
{
    HKEY opened = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, key.toUtf8().constData(), KEY_WRITE, &opened), ERROR_SUCCESS);
    const QByteArray data = text.toUtf8() + '\0';
    EXPECT_EQ(RegSetValueEx(opened, name, type, reinterpret_cast<const BYTE *>(data.constData()),
                            static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
    RegCloseKey(opened);
}

// A client entry; a missing name or library path is left out.
void addClient(const char *subKey, std::optional<QString> name, std::optional<QString> library = kFakeClient,
               DWORD libraryType = REG_SZ)
{
    const QString key = QLatin1String(kMailKey) + u'\\' + QLatin1String(subKey);
    HKEY opened = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, key.toUtf8().constData(), KEY_WRITE, &opened), ERROR_SUCCESS);
    RegCloseKey(opened);
    if (name)
        setString(key, nullptr, *name);
    if (library)
        setString(key, "DllPath", *library, libraryType);
}

void setDefaultClient(const QString &subKey) { setString(QLatin1String(kMailKey), nullptr, subKey); }

QJsonObject menuItem(int id, const char *text, bool isDefault = false)
{
    return {{QStringLiteral("id"), id},           {QStringLiteral("text"), QString::fromUtf8(text)},
            {QStringLiteral("enabled"), true},    {QStringLiteral("checked"), false},
            {QStringLiteral("default"), isDefault}};
}

QMap<QString, QString> readRecord(const QString &path)
{
    QFile file(path);
    QMap<QString, QString> record;
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray &line : file.readAll().split('\n'))
            if (const qsizetype equals = line.indexOf('='); equals > 0)
                record.insert(QString::fromUtf8(line.left(equals)), QString::fromUtf8(line.mid(equals + 1)));
    return record;
}

class MailMembers : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureApplication(); }
    void SetUp() override
    {
        ASSERT_TRUE(m_files.isValid());
        qputenv("FAKE_MAPI_RECORD", record().toUtf8());
        m_helper->SetSite(&m_site);
    }
    void TearDown() override
    {
        m_helper->SetSite(nullptr);
        qunsetenv("FAKE_MAPI_RECORD");
        qunsetenv("FAKE_MAPI_RESULT");
    }

    std::int32_t menu(std::int32_t answer, const QString &windowClass = {}, HRESULT expected = S_OK)
    {
        m_surface.answers({QJsonObject{{QStringLiteral("kind"), QStringLiteral("menu")}, {QStringLiteral("answer"), answer}}});
        std::int32_t result = -1;
        EXPECT_EQ(m_helper->ShowMailClientsMenu(30, 40, windowClass, &result), expected);
        return result;
    }
    std::int32_t setupDefault()
    {
        std::int32_t result = -1;
        EXPECT_EQ(m_helper->SetupDefaultMailClient(&result), S_OK);
        return result;
    }
    QString name() const
    {
        QString text;
        EXPECT_EQ(m_helper->get_MailClientName(&text), S_OK);
        return text;
    }
    QString library() const
    {
        QString text;
        EXPECT_EQ(m_helper->get_MailClientDLLPath(&text), S_OK);
        return text;
    }
    QJsonArray loggedItems() const
    {
        const QList<QJsonObject> log = m_surface.log();
        return log.isEmpty() ? QJsonArray() : log.last().value(QStringLiteral("items")).toArray();
    }
    // Sends a fresh file through `libraryPath`; the status.
    std::int32_t send(const QString &libraryPath)
    {
        writeFile(attachment(), "<root/>");
        std::int32_t result = -1;
        EXPECT_EQ(m_helper->SendFileToMailClient(attachment(), QStringLiteral("Example"), libraryPath, &result), S_OK);
        return result;
    }
    QString attachment() const { return m_files.filePath(QStringLiteral("Quotes.t-q")); }
    QString record() const { return m_files.filePath(QStringLiteral("record.txt")); }

    ScratchRegistry m_registry;
    Surface m_surface;
    QTemporaryDir m_files;
    QWidget m_owner;
    TestSite m_site{true, &m_owner};
    ComPtr<Quillet> m_helper = Quillet::create();
};

} // namespace

TEST_F(MailMembers, theMenuListsUsableClientsOncePerNameInNameOrderWithTheDefault)
{
    addClient("A", QStringLiteral("Beta Mail"), m_files.filePath(QStringLiteral("a.so")));
    addClient("B", QStringLiteral("beta mail")); // the same name, enumerated after A: dropped
    addClient("NoName", std::nullopt);           // listed by its subkey's name
    addClient("Omega", QStringLiteral("alpha & omega"));
    addClient("NoLibrary", QStringLiteral("Zeta"), std::nullopt);
    addClient("EmptyLibrary", QStringLiteral("Yota"), QStringLiteral(""));
    setDefaultClient(QStringLiteral("noname"));

    EXPECT_EQ(menu(2), 0);
    EXPECT_EQ(loggedItems(),
              (QJsonArray{menuItem(1, "alpha & omega"), menuItem(2, "Beta Mail"), menuItem(3, "NoName", true)}));
    EXPECT_EQ(m_surface.log().last().value(QStringLiteral("x")).toInt(), 30);
    EXPECT_EQ(name(), QStringLiteral("Beta Mail"));
    EXPECT_EQ(library(), m_files.filePath(QStringLiteral("a.so")));

    EXPECT_EQ(menu(0), 1) << "dismissed";
    EXPECT_EQ(name(), QString());
    EXPECT_EQ(library(), QString());

    EXPECT_EQ(setupDefault(), 0);
    EXPECT_EQ(name(), QStringLiteral("NoName"));
    EXPECT_EQ(library(), kFakeClient);
}

TEST_F(MailMembers, withoutAUsableDefaultNothingIsSelected)
{
    addClient("Example", QStringLiteral("Example"));
    addClient("NoLibrary", QStringLiteral("Zeta"), std::nullopt);
    EXPECT_EQ(menu(1), 0);
    EXPECT_EQ(loggedItems(), QJsonArray{menuItem(1, "Example")}) << "no default item";
    EXPECT_EQ(setupDefault(), 3);
    EXPECT_EQ(name(), QString()) << "cleared by the failed attempt";
    for (const char *defaultKey : {"NoLibrary", "Missing"}) {
        setDefaultClient(QLatin1String(defaultKey));
        EXPECT_EQ(setupDefault(), 3) << defaultKey;
    }
}

TEST_F(MailMembers, anExpandableLibraryPathIsExpanded)
{
    qputenv("FAKE_CLIENT_DIR", QFileInfo(kFakeClient).absolutePath().toUtf8());
    addClient("Example", QStringLiteral("Example"),
              QStringLiteral("%FAKE_CLIENT_DIR%/") + QFileInfo(kFakeClient).fileName(), REG_EXPAND_SZ);
    setDefaultClient(QStringLiteral("Example"));
    ASSERT_EQ(setupDefault(), 0);
    EXPECT_EQ(library(), kFakeClient);
    EXPECT_EQ(send(library()), 0);
    EXPECT_EQ(readRecord(record()).value(QStringLiteral("files")), QStringLiteral("1"));
    qunsetenv("FAKE_CLIENT_DIR");
}

TEST_F(MailMembers, noClientsAndNoWindow)
{
    EXPECT_EQ(menu(1), 2) << "no Mail key";
    EXPECT_EQ(setupDefault(), 3);
    addClient("NoLibrary", QStringLiteral("Zeta"), std::nullopt);
    EXPECT_EQ(menu(1), 2) << "no usable client";
    addClient("Example", QStringLiteral("Example"));
    m_helper->SetSite(nullptr);
    EXPECT_EQ(menu(1, QStringLiteral("NoSuchWindow"), S_FALSE), 1);
    EXPECT_TRUE(m_surface.log().isEmpty()) << "no menu without a window";

    std::int32_t result = 0;
    EXPECT_EQ(m_helper->ShowMailClientsMenu(0, 0, QString(), nullptr), E_INVALIDARG);
    EXPECT_EQ(m_helper->SetupDefaultMailClient(nullptr), E_INVALIDARG);
    EXPECT_EQ(m_helper->get_MailClientName(nullptr), E_POINTER);
    EXPECT_EQ(m_helper->get_MailClientDLLPath(nullptr), E_POINTER);
    EXPECT_EQ(m_helper->SendFileToMailClient(attachment(), QString(), kFakeClient, &result), E_POINTER);
    EXPECT_EQ(m_helper->SendFileToMailClient(attachment(), QStringLiteral("Example"), kFakeClient, nullptr), E_POINTER);
}

TEST_F(MailMembers, theMessageAsBuiltAndEveryResultTranslatedWithTheFileConsumed)
{
    // MAPISendMail's result -> the member's status.
    const QList<std::pair<int, int>> table{{0, 0},  {1, 11}, {2, 8},  {3, 10}, {4, 12},
                                           {5, 9},  {11, 14}, {12, 6}, {13, 7}, {6, 12}};
    for (const auto &[sent, status] : table) {
        qputenv("FAKE_MAPI_RESULT", QByteArray::number(sent));
        EXPECT_EQ(send(kFakeClient), status) << sent;
        EXPECT_FALSE(QFileInfo::exists(attachment())) << "deleted after result " << sent;
    }
    const QMap<QString, QString> record = readRecord(this->record());
    const QMap<QString, QString> expected{
        {QStringLiteral("session"), QStringLiteral("0")},     {QStringLiteral("parent"), QStringLiteral("window")},
        {QStringLiteral("flags"), QStringLiteral("9")},       {QStringLiteral("reserved"), QStringLiteral("0")},
        {QStringLiteral("nullTexts"), QStringLiteral("5")},   {QStringLiteral("nullOriginator"), QStringLiteral("1")},
        {QStringLiteral("messageFlags"), QStringLiteral("0")}, {QStringLiteral("recipients"), QStringLiteral("0")},
        {QStringLiteral("nullRecipients"), QStringLiteral("1")}, {QStringLiteral("files"), QStringLiteral("1")},
        {QStringLiteral("fileReserved"), QStringLiteral("0")}, {QStringLiteral("fileFlags"), QStringLiteral("0")},
        {QStringLiteral("position"), QStringLiteral("4294967295")}, {QStringLiteral("path"), attachment()},
        {QStringLiteral("name"), QStringLiteral("Quotes.t-q")}, {QStringLiteral("nullType"), QStringLiteral("1")},
        {QStringLiteral("exists"), QStringLiteral("1")}};
    EXPECT_EQ(record, expected);
}

TEST_F(MailMembers, aLibraryThatCannotServeLeavesTheFile)
{
    writeFile(m_files.filePath(QStringLiteral("text.so")), "no library");
    const QList<std::pair<QString, int>> table{{m_files.filePath(QStringLiteral("missing.so")), 4},
                                               {m_files.filePath(QStringLiteral("text.so")), 4},
                                               {kNoEntryLibrary, 5}};
    for (const auto &[path, status] : table) {
        EXPECT_EQ(send(path), status) << path.toStdString();
        EXPECT_TRUE(QFileInfo::exists(attachment())) << path.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(record())) << "no client was called";

    const QString none = QStringLiteral(""), client = QStringLiteral("Example");
    std::int32_t result = -1;
    for (const auto &[file, name, path] : {std::tuple{none, client, kFakeClient},
                                          std::tuple{attachment(), none, kFakeClient},
                                          std::tuple{attachment(), client, none}})
        EXPECT_EQ(m_helper->SendFileToMailClient(file, name, path, &result), E_INVALIDARG);
    EXPECT_TRUE(QFileInfo::exists(attachment()));
}

// File-name abbreviation: the worked examples for POSIX and Windows-style paths, byte limits on
// multi-byte UTF-8 names, the keep-name flag and paths where a separator is missing.

#include "object/abbreviation.h"
#include "object/quillet.h"

#include <gtest/gtest.h>

using namespace tavrelo::helpers;

namespace {

struct Example {
    const char *path;
    const char *expected; // null: unchanged
};

qsizetype bytes(const QString &text) { return text.toUtf8().size(); }

} // namespace

TEST(Abbreviation, theWorkedExamplesAtFiftyBytesKeepingTheName)
{
    const Example examples[] = {
        // POSIX paths: the root and the first directory form the volume part.
        {"/home/alice/Documents/Collections/Research/2023/Projects/notes.t-q",
         "/home/.../Research/2023/Projects/notes.t-q"},
        {"/home/alice/An extremely long collection file name that exceeds fifty characters.t-q",
         "An extremely long collection file name that exceeds fifty characters.t-q"},
        {"/srv/x/n.t-q", nullptr},
        {"//server/share/folder one/folder two/folder three/collection.t-q",
         "//server/share/.../folder three/collection.t-q"},
        {"/home/zoë/Documents/Sammlungen/Forschung/Übersicht/Zitate über Software.t-q",
         "/home/.../Übersicht/Zitate über Software.t-q"},
        {"/home/иван/документы/коллекции/заметки.t-q", "/home/.../коллекции/заметки.t-q"},
        // Windows-style paths keep their backslashes; a drive path written with "/" works alike.
        {"C:\\Documents and Settings\\user\\My Documents\\Collections\\Projects\\notes.t-q",
         "C:\\Documents and Settings\\...\\Projects\\notes.t-q"},
        {"C:/Documents and Settings/user/My Documents/Collections/Projects/notes.t-q",
         "C:/Documents and Settings/.../Projects/notes.t-q"},
        {"C:\\Data\\Collections\\2003\\Research\\Quotes about software design.t-q",
         "C:\\Data\\...\\Quotes about software design.t-q"},
        {"\\\\server\\share\\folder one\\folder two\\folder three\\collection.t-q",
         "\\\\server\\share\\...\\folder three\\collection.t-q"},
        {"C:\\x\\An extremely long collection file name that exceeds fifty characters.t-q",
         "An extremely long collection file name that exceeds fifty characters.t-q"},
        {"C:\\notes.t-q", nullptr},
    };
    for (const Example &example : examples) {
        const QString path = QString::fromUtf8(example.path);
        SCOPED_TRACE(example.path);
        const QString expected = example.expected ? QString::fromUtf8(example.expected) : path;
        EXPECT_EQ(abbreviateFileName(path, 50, true), expected);

        // The member gives the same, with the same limit and flag.
        QString member = QStringLiteral("untouched");
        ASSERT_EQ(Quillet::create()->AbbreviateFileName(path, &member), S_OK);
        EXPECT_EQ(member, expected);
    }
    // The lengths of the text's examples: 74 -> 48, 66 -> 44, 64 -> 46.
    EXPECT_EQ(bytes(abbreviateFileName(
                  QStringLiteral("C:\\Documents and Settings\\user\\My Documents\\Collections\\Projects\\notes.t-q"), 50,
                  true)),
              48);
    EXPECT_EQ(bytes(abbreviateFileName(
                  QStringLiteral("C:\\Data\\Collections\\2003\\Research\\Quotes about software design.t-q"), 50, true)),
              44);
}

TEST(Abbreviation, limitsCountUtf8BytesAndNeverCutACharacter)
{
    // 42 characters but 71 bytes: over the limit, though it would fit by characters.
    const QString cyrillic = QStringLiteral("/home/иван/документы/коллекции/заметки.t-q");
    ASSERT_EQ(cyrillic.size(), 42);
    ASSERT_EQ(bytes(cyrillic), 71);
    EXPECT_EQ(bytes(abbreviateFileName(cyrillic, 50, true)), 47);
    EXPECT_EQ(abbreviateFileName(cyrillic, 71, true), cyrillic);

    // At every limit the result is whole characters and fits, unless it is the file name kept.
    const QString name = QStringLiteral("Zitate über Software.t-q");
    const QString path = QStringLiteral("/home/zoë/Dokumente/Sammlungen/Forschung/Übersicht/") + name;
    for (int limit = 0; limit <= bytes(path) + 1; ++limit) {
        SCOPED_TRACE(limit);
        for (const bool keepName : {true, false}) {
            const QString result = abbreviateFileName(path, limit, keepName);
            EXPECT_FALSE(result.contains(QChar::ReplacementCharacter));
            EXPECT_EQ(QString::fromUtf8(result.toUtf8()), result);
            EXPECT_TRUE(bytes(result) <= limit || (keepName && result == name)) << result.toStdString();
            if (!result.isEmpty()) {
                EXPECT_TRUE(result.endsWith(name)) << result.toStdString();
            }
            if (limit >= bytes(path)) {
                EXPECT_EQ(result, path);
            }
        }
    }

    // A drive whose first directory starts with a multi-byte character steps over it whole.
    EXPECT_EQ(abbreviateFileName(QStringLiteral("C:\\Äpfel\\Birnen und Quitten aus dem Garten\\liste.t-q"), 30, true),
              QStringLiteral("C:\\Äpfel\\...\\liste.t-q"));
}

TEST(Abbreviation, theKeepNameFlagDecidesOnlyForANameOverTheLimit)
{
    const QString longName = QStringLiteral("/home/alice/An extremely long collection file name that exceeds fifty "
                                            "characters.t-q");
    EXPECT_EQ(abbreviateFileName(longName, 50, false), QString());
    EXPECT_FALSE(abbreviateFileName(longName, 50, false).isNull());
    EXPECT_EQ(abbreviateFileName(longName, 50, true),
              QStringLiteral("An extremely long collection file name that exceeds fifty characters.t-q"));

    const QString path = QStringLiteral("/home/alice/Documents/Collections/Research/2023/Projects/notes.t-q");
    EXPECT_EQ(abbreviateFileName(path, 50, false), abbreviateFileName(path, 50, true));
    // No room for the volume part, "/..." and the name: the name alone, with either flag.
    EXPECT_EQ(abbreviateFileName(path, 18, false), QStringLiteral("notes.t-q"));
    EXPECT_EQ(abbreviateFileName(path, 18, true), QStringLiteral("notes.t-q"));
    EXPECT_EQ(abbreviateFileName(path, 19, true), QStringLiteral("/home/.../notes.t-q"));
}

TEST(Abbreviation, aMissingSeparatorGivesTheFileName)
{
    // The name follows a ":", where no directory is cut: the cut finds no further separator.
    EXPECT_EQ(abbreviateFileName(QStringLiteral("/home/alice/Collections archived in the year 2003:notes.t-q"), 50, true),
              QStringLiteral("notes.t-q"));
    // A relative name with no directory separator at all.
    EXPECT_EQ(abbreviateFileName(QStringLiteral("Collections archived in the year 2003 and later:notes.t-q"), 50, true),
              QStringLiteral("notes.t-q"));
    // A network path that ends inside its server name.
    EXPECT_EQ(abbreviateFileName(QStringLiteral("//a-server-with-a-very-long-name-in-the-domain:x.t-q"), 20, true),
              QStringLiteral("x.t-q"));
    // A relative path with directories keeps its first directory in front.
    EXPECT_EQ(abbreviateFileName(QStringLiteral("Collections/2003/Research/Quotes/notes.t-q"), 30, true),
              QStringLiteral("Collections/.../notes.t-q"));
}

TEST(Abbreviation, theMemberRefusesANullPathOrResult)
{
    const ComPtr<Quillet> helper = Quillet::create();
    QString result = QStringLiteral("untouched");
    EXPECT_EQ(helper->AbbreviateFileName(QString(), &result), E_INVALIDARG);
    EXPECT_EQ(result, u"untouched");
    EXPECT_EQ(helper->AbbreviateFileName(QStringLiteral("/home/a.t-q"), nullptr), E_INVALIDARG);
    ASSERT_EQ(helper->AbbreviateFileName(QStringLiteral(""), &result), S_OK);
    EXPECT_TRUE(result.isEmpty());
    EXPECT_FALSE(result.isNull());
}

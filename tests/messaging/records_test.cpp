// The two records of instance messaging: their bytes, the 520-byte cut, and what a receiver
// refuses. A fuzzing pass feeds the parser bytes it was never meant to see.

#include "messaging/records.h"

#include <QtEndian>

#include <gtest/gtest.h>

#include <random>

using namespace tavrelo::messaging;

namespace {

std::uint32_t u32At(const QByteArray &data, qsizetype offset)
{
    return qFromLittleEndian<std::uint32_t>(data.constData() + offset);
}

} // namespace

TEST(Records, ChangeNotificationHasItsLayout)
{
    const QByteArray record = changeRecord(QStringLiteral("/home/me/Notes.t-q"), -1);
    ASSERT_EQ(record.size(), 536);
    EXPECT_EQ(u32At(record, 0), 536u);
    EXPECT_EQ(record.mid(4, 4), QByteArray("NCWR"));
    EXPECT_EQ(u32At(record, 4), 0x5257434Eu);
    EXPECT_EQ(record.mid(8, 18), QByteArray("/home/me/Notes.t-q"));
    EXPECT_EQ(record.mid(26, 529 - 26), QByteArray(529 - 26, '\0')) << "zero up to the end of the path field";
    EXPECT_EQ(qFromLittleEndian<std::int32_t>(record.constData() + 532), -1);
    EXPECT_EQ(qFromLittleEndian<std::int32_t>(changeRecord(QString(), 1234567).constData() + 532), 1234567);
    EXPECT_EQ(changeRecord(QString(), 0).mid(8, 521), QByteArray(521, '\0')) << "a null path is an empty path";
}

TEST(Records, FileOpenRequestHasItsLayout)
{
    const QByteArray record = openRecord("\"/home/me/My notes.t-q\"");
    ASSERT_EQ(record.size(), 532);
    EXPECT_EQ(u32At(record, 0), 532u);
    EXPECT_EQ(record.mid(4, 4), QByteArray("OFWR"));
    EXPECT_EQ(record.mid(8, 23), QByteArray("\"/home/me/My notes.t-q\""));
    EXPECT_EQ(record.mid(31), QByteArray(532 - 31, '\0'));
}

TEST(Records, PathsAreCutTo520BytesOnACharacterBoundary)
{
    const QString ascii(600, u'a');
    EXPECT_EQ(parseRecord(changeRecord(ascii, -1))->path, QByteArray(520, 'a'));
    EXPECT_EQ(parseRecord(openRecord(ascii.toUtf8()))->path, QByteArray(520, 'a'));

    // Two-byte characters: 260 of them fill 520 bytes exactly.
    const QString twoBytes(300, QChar(0x00E9));
    EXPECT_EQ(parseRecord(changeRecord(twoBytes, -1))->path, QString(260, QChar(0x00E9)).toUtf8());
    // Three-byte characters: 173 of them take 519 bytes; the 174th would be cut in half.
    const QString threeBytes(200, QChar(0x20AC));
    EXPECT_EQ(parseRecord(changeRecord(threeBytes, -1))->path, QString(173, QChar(0x20AC)).toUtf8());
    // Four-byte characters (surrogate pairs in the string): 130 of them fill 520 bytes.
    QString fourBytes;
    for (int i = 0; i < 140; ++i)
        fourBytes += QString::fromUcs4(U"\U0001F4D2");
    EXPECT_EQ(cutUtf8(fourBytes, 520).size(), 520);
    EXPECT_EQ(cutUtf8(fourBytes, 519).size(), 516);
}

TEST(Records, AReceiverRefusesWhatIsNotExactlyARecord)
{
    const QByteArray change = changeRecord(QStringLiteral("/a"), -1);
    const QByteArray open = openRecord("/b");
    ASSERT_TRUE(parseRecord(change));
    ASSERT_TRUE(parseRecord(open));
    EXPECT_EQ(parseRecord(change)->kind, Record::Kind::Change);
    EXPECT_EQ(parseRecord(open)->kind, Record::Kind::Open);

    for (const qsizetype size : {0, 4, 531, 533, 535, 537, 1024})
        EXPECT_FALSE(parseRecord(QByteArray(change).leftJustified(size, '\0', true))) << size;

    QByteArray wrongTag = change;
    wrongTag.replace(4, 4, "OFWR");
    EXPECT_FALSE(parseRecord(wrongTag)) << "a change record's size with the open tag";
    wrongTag = open;
    wrongTag.replace(4, 4, "NCWR");
    EXPECT_FALSE(parseRecord(wrongTag)) << "an open record's size with the change tag";
    wrongTag.replace(4, 4, "XXXX");
    EXPECT_FALSE(parseRecord(wrongTag));

    // 532 bytes that announce the 536-byte record are never read as one.
    QByteArray shortChange = change.left(532);
    EXPECT_FALSE(parseRecord(shortChange));
    // 536 bytes that announce 532.
    QByteArray longOpen = open + QByteArray(4, '\0');
    EXPECT_FALSE(parseRecord(longOpen));
}

TEST(Records, APathWithoutItsTerminatorIsReadTo520Bytes)
{
    QByteArray record = changeRecord(QString(), 9);
    record.replace(8, 521, QByteArray(521, 'z'));
    const std::optional<Record> parsed = parseRecord(record);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->path, QByteArray(520, 'z'));
    EXPECT_EQ(parsed->folderId, 9);
}

// The same checks as the fuzz target, driven by a seeded generator so that every run is alike:
// mutated records and random bytes never crash the parser, and whatever it accepts is a record.
TEST(Records, SurviveMutatedAndRandomInput)
{
    std::mt19937 random(20261208);
    const QByteArray seeds[] = {changeRecord(QStringLiteral("/x/y.t-q"), -1), openRecord("\"/x/y.t-q\"")};
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        QByteArray data = seeds[round % 2];
        const int mutations = 1 + int(random() % 8);
        for (int i = 0; i < mutations; ++i) {
            switch (random() % 4) {
            case 0: // change a byte, half of the time in the header
                if (!data.isEmpty()) {
                    const qsizetype span = random() % 2 ? std::min<qsizetype>(12, data.size()) : data.size();
                    data[qsizetype(random() % span)] = char(random());
                }
                break;
            case 1:
                data.append(char(random()));
                break;
            case 2:
                data.chop(std::min<qsizetype>(data.size(), qsizetype(random() % 5)));
                break;
            default:
                data = QByteArray(qsizetype(random() % 600), char(random()));
            }
        }
        if (const std::optional<Record> parsed = parseRecord(data)) {
            ++accepted;
            EXPECT_TRUE(data.size() == 536 || data.size() == 532);
            EXPECT_EQ(qsizetype(u32At(data, 0)), data.size());
            EXPECT_LE(parsed->path.size(), 520);
            EXPECT_FALSE(parsed->path.contains('\0'));
        }
    }
    EXPECT_GT(accepted, 0) << "some mutations leave a record whole";
}

// The host's watch of a page's file against real files: a save by rename, another one after it
// (the new file is watched in turn) and a write in place are each told once.

#include "htahost/filewatch.h"
#include "support/eventloop.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tavrelo::htahost;

TEST(FileWatch, EverySaveByRenameAndEveryWriteInPlaceIsToldOnce)
{
    ensureCoreApplication();
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("watched.t-q"));
    const auto write = [&path](const QByteArray &text, bool byRename) {
        if (byRename) {
            QSaveFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(text);
            ASSERT_TRUE(file.commit());
        } else {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadWrite)); // in place: the same file, written twice
            file.write(text.left(4));
            file.flush();
            file.write(text.mid(4));
        }
    };
    write("<first/>", true);
    QStringList told;
    FileWatch watch([&told](const QString &touched) { told.append(touched); });
    watch.watch(path);
    const struct {
        const char *what;
        QByteArray text;
        bool byRename;
    } changes[] = {
        {"a save by rename", "<second/>", true},
        {"the next save by rename", "<third/>", true},
        {"a write in place", "<fourth/>", false},
    };
    qsizetype expected = 0;
    for (const auto &change : changes) {
        write(change.text, change.byRename);
        ++expected;
        // A repeated notice of the change before would show here as one too many.
        EXPECT_TRUE(turnUntil([&] { return told.size() >= expected; }, 10000)) << change.what;
        EXPECT_EQ(told.size(), expected) << change.what;
    }
    EXPECT_EQ(told, QStringList(expected, path));
}

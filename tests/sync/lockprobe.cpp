// A separate process that takes and gives up collection locks through the helper object, for the
// tests of locks between processes. Reads commands on standard input, one a line, and answers
// each on standard output:
//   lock PATH            -> "locked <hresult>" once LockFile returns
//   unlock PATH          -> "unlocked <hresult>"
//   add FILE COUNT PATH  -> COUNT times: lock, add 1 to the number in FILE, unlock; then "added"

#include "object/quillet.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <iostream>
#include <string>

using namespace tavrelo::helpers;

namespace {

void answer(const std::string &text)
{
    std::cout << text << std::endl; // flushed: the test waits for each line
}

bool addOne(const QString &file)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const int value = in.readAll().trimmed().toInt();
    in.close();
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    out.write(QByteArray::number(value + 1));
    return true;
}

}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv); // waits for a lock turn the event loop, as in a host
    ComPtr<Quillet> helper = Quillet::create();
    std::string line;
    while (std::getline(std::cin, line)) {
        const QStringList words = QString::fromStdString(line).split(u' ');
        const QString command = words.value(0);
        if (command == u"lock") {
            answer("locked " + std::to_string(helper->LockFile(words.mid(1).join(u' '))));
        } else if (command == u"unlock") {
            answer("unlocked " + std::to_string(helper->UnlockFile(words.mid(1).join(u' '))));
        } else if (command == u"add") {
            const QString file = words.value(1), path = words.mid(3).join(u' ');
            for (int i = 0, count = words.value(2).toInt(); i < count; ++i) {
                if (FAILED(helper->LockFile(path)) || !addOne(file) || FAILED(helper->UnlockFile(path))) {
                    answer("failed");
                    return 1;
                }
            }
            answer("added");
        } else if (command == u"quit") {
            break;
        }
    }
    return 0;
}

#include "commandline.h"

namespace tavrelo::shell {

namespace {

bool isDecimalDigit(QChar c) { return c >= u'0' && c <= u'9'; }
bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }

}

QString quoteArgument(const QString &argument)
{
    QString quoted = QStringLiteral("\"");
    qsizetype backslashes = 0;
    for (const QChar c : argument) {
        if (c == u'\\') {
            ++backslashes;
        } else {
            if (c == u'"')
                quoted += QString(backslashes + 1, u'\\');
            backslashes = 0;
        }
        quoted += c;
    }
    // Backslashes before the closing quote must not escape it.
    return quoted + QString(backslashes, u'\\') + u'"';
}

QString argumentString(const QStringList &arguments)
{
    QStringList quoted;
    quoted.reserve(arguments.size());
    for (const QString &argument : arguments)
        quoted += quoteArgument(argument);
    return quoted.join(u' ');
}

QString expandCommandTemplate(QStringView commandTemplate, const QString &pageAddress, const QString &arguments)
{
    QString result;
    const qsizetype size = commandTemplate.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = commandTemplate[i];
        if (c != u'%') {
            result += c;
            continue;
        }
        if (++i == size)
            break; // a trailing "%"
        const QChar next = commandTemplate[i];
        if (next == u'%') {
            result += u'%';
        } else if (next == u'1' && (i + 1 == size || !isDecimalDigit(commandTemplate[i + 1]))) {
            result += pageAddress;
        } else if (next == u'*') {
            result += arguments;
        } else {
            // Any other place holder ("%2", "%L", "%10") stands for nothing here.
            while (i + 1 < size && isDecimalDigit(commandTemplate[i + 1]))
                ++i;
        }
    }
    return result;
}

QStringList splitCommandLine(QStringView commandLine)
{
    QStringList words;
    QString current;
    bool inPart = false;
    bool quoted = false;
    const qsizetype size = commandLine.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = commandLine[i];
        if (c == u'\\') {
            qsizetype backslashes = 0;
            while (i < size && commandLine[i] == u'\\') {
                ++backslashes;
                ++i;
            }
            inPart = true;
            if (i < size && commandLine[i] == u'"') {
                current += QString(backslashes / 2, u'\\');
                if (backslashes % 2 == 1) {
                    current += u'"';
                    continue; // the quote was taken
                }
            } else {
                current += QString(backslashes, u'\\');
            }
            --i; // the character after the backslashes is read next
        } else if (c == u'"') {
            quoted = !quoted;
            inPart = true;
        } else if (isBlank(c) && !quoted) {
            if (inPart)
                words += current;
            current.clear();
            inPart = false;
        } else {
            current += c;
            inPart = true;
        }
    }
    if (inPart)
        words += current;
    return words;
}

}

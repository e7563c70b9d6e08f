// Writes a large collection file for benchmarks and manual tests: a tree of folders with
// fragments of realistic text (words of several languages, markup characters, line-break markers,
// addresses and creation dates), the same file for the same arguments.
//
//   clipvane-bench-collection [--folders N] [--fragments M] [--large-folder L] [--seed S] OUTPUT
//
// With --large-folder, the system folder holds L of the fragments and the others are spread;
// --help prints the usage, --version the version.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <cstdio>
#include <random>
#include <vector>

namespace {

const QStringList kWords = {
    QStringLiteral("the"), QStringLiteral("collection"), QStringLiteral("of"), QStringLiteral("notes"),
    QStringLiteral("research"), QStringLiteral("shows"), QStringLiteral("that"), QStringLiteral("a"),
    QStringLiteral("quick"), QStringLiteral("survey"), QStringLiteral("was"), QStringLiteral("published"),
    QStringLiteral("in"), QStringLiteral("2003"), QStringLiteral("and"), QStringLiteral("results"),
    QStringLiteral("für"), QStringLiteral("Übersicht"), QStringLiteral("naïve"), QStringLiteral("café"),
    QStringLiteral("résumé"), QStringLiteral("данные"), QStringLiteral("исследование"), QStringLiteral("東京"),
    QStringLiteral("データ"), QStringLiteral("x<y"), QStringLiteral("R&D"), QStringLiteral("\"quoted\""),
    QStringLiteral("it's"), QStringLiteral("—"), QStringLiteral("e.g."), QStringLiteral("analysis"),
    QStringLiteral("measured"), QStringLiteral("between"), QStringLiteral("several"), QStringLiteral("sources"),
};

QString escaped(const QString &text)
{
    QString out;
    out.reserve(text.size() + 16);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '<': out += QStringLiteral("&lt;"); break;
        case '>': out += QStringLiteral("&gt;"); break;
        case '&': out += QStringLiteral("&amp;"); break;
        case '"': out += QStringLiteral("&quot;"); break;
        default: out += c;
        }
    }
    return out;
}

class Writer {
public:
    Writer(QTextStream &out, unsigned seed) : m_out(out), m_random(seed) {}

    QString words(int count, bool paragraphs)
    {
        QStringList text;
        for (int i = 0; i < count; ++i) {
            text << kWords.at(pick(kWords.size()));
            if (paragraphs && i > 0 && pick(40) == 0)
                text.last() += QStringLiteral(".!BR/!");
        }
        return text.join(u' ');
    }

    int pick(qsizetype n) { return static_cast<int>(std::uniform_int_distribution<qsizetype>(0, n - 1)(m_random)); }

    void fragment(int uin)
    {
        const qint64 date = (1041379200LL + pick(600000000)) * 1000;
        m_out << "<TavTracker:ktFRAGMENT UIN=\"" << uin << "\" Name=\"" << escaped(words(3 + pick(8), false))
              << "\" Comment=\"" << escaped(pick(3) == 0 ? QString() : words(pick(25), true)) << "\" Text=\""
              << escaped(words(20 + pick(120), true)) << "\" BaseURL=\"https://example.org/articles/" << pick(100000)
              << "?page=" << pick(50) << "&amp;lang=en\" CreationDate=\""
              << QStringLiteral("%1").arg(date, 16, 10, QLatin1Char('0')) << "\"/>\n";
    }

private:
    QTextStream &m_out;
    std::mt19937 m_random;
};

}

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("clipvane-bench-collection"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CLIPVANE_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes a large collection file for benchmarks and manual tests."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption foldersOption(QStringLiteral("folders"), QStringLiteral("Number of folders (10000)."),
                                           QStringLiteral("N"), QStringLiteral("10000"));
    const QCommandLineOption fragmentsOption(QStringLiteral("fragments"), QStringLiteral("Number of fragments (100000)."),
                                             QStringLiteral("M"), QStringLiteral("100000"));
    const QCommandLineOption largeOption(QStringLiteral("large-folder"),
                                         QStringLiteral("Fragments the system folder holds; the others are spread (0)."),
                                         QStringLiteral("L"), QStringLiteral("0"));
    const QCommandLineOption seedOption(QStringLiteral("seed"), QStringLiteral("Seed of the random choices (7)."),
                                        QStringLiteral("S"), QStringLiteral("7"));
    parser.addOptions({foldersOption, fragmentsOption, largeOption, seedOption});
    parser.addPositionalArgument(QStringLiteral("OUTPUT"), QStringLiteral("The collection file to write."));
    const auto usageError = [&parser](const QString &problem) {
        std::fprintf(stderr, "clipvane-bench-collection: %s\n%s", qPrintable(problem), qPrintable(parser.helpText()));
        return 2;
    };
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(versionOption))
        parser.showVersion(); // prints the name and version, ends the program with 0
    bool valid = parser.positionalArguments().size() == 1;
    const auto number = [&](const QCommandLineOption &option) {
        bool ok = false;
        const int value = parser.value(option).toInt(&ok);
        valid = valid && ok;
        return value;
    };
    const int folders = number(foldersOption), fragments = number(fragmentsOption), largeFolder = number(largeOption);
    bool seedValid = false;
    const unsigned seed = parser.value(seedOption).toUInt(&seedValid);
    valid = valid && seedValid;
    if (!valid || folders < 1 || fragments < 0 || largeFolder < 0 || largeFolder > fragments)
        return usageError(QStringLiteral("one output file and counts that fit are needed"));
    const QString output = parser.positionalArguments().constFirst();
    QFile file(output);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(output));
        return 1;
    }
    QTextStream out(&file);
    out.setEncoding(QStringConverter::Utf8);
    Writer writer(out, seed);

    // Folders form a tree: each new folder goes under one of the folders made before it, so the
    // tree has both depth and breadth. Folder 1 is the system folder.
    std::vector<std::vector<int>> children(static_cast<size_t>(folders) + 1);
    children[0].push_back(1);
    for (int f = 2; f <= folders; ++f)
        children[static_cast<size_t>(writer.pick(f))].push_back(f);
    std::vector<int> fragmentsIn(static_cast<size_t>(folders) + 1, 0);
    fragmentsIn[1] = largeFolder;
    for (int i = largeFolder; i < fragments; ++i)
        ++fragmentsIn[static_cast<size_t>(writer.pick(folders + 1))];

    int nextUin = folders + 1;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root xmlns:TavTracker=\"http://www.tavrelo.com/tracker/\" "
           "TimeStamp=\"41\" NextUIN=\""
        << folders + 1 + fragments << "\" dbversion=\"1.0\">\n";
    // Depth first, without recursion: a deep tree must not exhaust the stack.
    struct Open { int folder; size_t next; };
    std::vector<Open> stack{{0, 0}};
    out << "<TavTracker:ktDATABASE UIN=\"0\" Name=\"My Citations\" IsDatabase=\"-1\" CurrentNode=\"1\">\n";
    for (int i = 0; i < fragmentsIn[0]; ++i)
        writer.fragment(nextUin++);
    while (!stack.empty()) {
        Open &top = stack.back();
        const auto &kids = children[static_cast<size_t>(top.folder)];
        if (top.next == kids.size()) {
            out << (top.folder == 0 ? "</TavTracker:ktDATABASE>\n" : "</TavTracker:ktNODE>\n");
            stack.pop_back();
            continue;
        }
        const int folder = kids[top.next++];
        out << "<TavTracker:ktNODE UIN=\"" << folder << "\" Name=\""
            << (folder == 1 ? QStringLiteral("Default Collection\" IsUnsortedNode=\"1") : escaped(writer.words(1 + writer.pick(4), false)))
            << "\">\n";
        for (int i = 0; i < fragmentsIn[static_cast<size_t>(folder)]; ++i)
            writer.fragment(nextUin++);
        stack.push_back({folder, 0});
    }
    out << "</root>\n";
    out.flush();
    return out.status() == QTextStream::Ok && file.error() == QFile::NoError ? 0 : 1;
}

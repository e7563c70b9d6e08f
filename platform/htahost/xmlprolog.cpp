#include "xmlprolog.h"

namespace tavrelo::htahost {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}

XmlProlog readXmlProlog(QByteArrayView utf8)
{
    XmlProlog prolog;
    qsizetype at = utf8.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    if (utf8.sliced(at).startsWith("<?xml") && at + 5 < utf8.size() && isSpace(utf8[at + 5])) {
        const qsizetype end = utf8.indexOf("?>", at + 5);
        if (end < 0)
            return prolog;
        prolog.declaration = QString::fromUtf8(utf8.sliced(at + 5, end - at - 5)).trimmed();
        at = end + 2;
    }
    for (;;) {
        while (at < utf8.size() && isSpace(utf8[at]))
            ++at;
        if (utf8.sliced(at).startsWith("<!--")) {
            const qsizetype end = utf8.indexOf("-->", at + 4);
            if (end < 0)
                return prolog;
            at = end + 3;
            continue;
        }
        // An element begins with a name; "<!" and "<?" are other markup.
        prolog.plain = at + 1 < utf8.size() && utf8[at] == '<' && utf8[at + 1] != '!' && utf8[at + 1] != '?' &&
                       !isSpace(utf8[at + 1]);
        return prolog;
    }
}

} // namespace tavrelo::htahost

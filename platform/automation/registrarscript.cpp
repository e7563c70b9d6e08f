#include "registrarscript.h"

#include <QRegularExpression>

#include <limits>

namespace tavrelo::automation {

using namespace registry;

namespace {

// Thrown inside the reader only; parseRegistrarScript turns it into its message.
struct ScriptError {
    int line;
    QString reason;
};

int lineAt(const QString &text, qsizetype position) { return int(QStringView(text).left(position).count(u'\n')) + 1; }

QString substitute(const QString &script, const Replacements &replacements)
{
    QString result;
    qsizetype from = 0;
    for (qsizetype percent; (percent = script.indexOf(u'%', from)) >= 0;) {
        result += QStringView(script).sliced(from, percent - from);
        const qsizetype end = script.indexOf(u'%', percent + 1);
        if (end < 0)
            throw ScriptError{lineAt(script, percent), QStringLiteral("a % without its closing %")};
        const QStringView name = QStringView(script).sliced(percent + 1, end - percent - 1);
        const auto found = std::ranges::find_if(replacements, [&](const auto &replacement) {
            return name.compare(replacement.first, Qt::CaseInsensitive) == 0;
        });
        if (!name.isEmpty() && found == replacements.end())
            throw ScriptError{lineAt(script, percent), QStringLiteral("unknown replacement %") + name + u'%'};
        result += name.isEmpty() ? QStringLiteral("%") : found->second;
        from = end + 1;
    }
    return result + QStringView(script).sliced(from);
}

struct Token {
    enum class Kind { Word, Quoted, Open, Close, Equals, End };
    Kind kind = Kind::End;
    QString text;
    int line = 1;
};

class Lexer final {
public:
    explicit Lexer(const QString &text) : m_text(text) {}

    Token next()
    {
        while (m_pos < m_text.size() && m_text[m_pos].isSpace())
            m_line += m_text[m_pos++] == u'\n' ? 1 : 0;
        if (m_pos >= m_text.size())
            return {Token::Kind::End, {}, m_line};
        const QChar c = m_text[m_pos];
        if (c == u'{' && !startsWord(m_pos + 1))
            return single(Token::Kind::Open);
        if (c == u'}')
            return single(Token::Kind::Close);
        if (c == u'=')
            return single(Token::Kind::Equals);
        if (c == u'\'')
            return quoted();
        return word();
    }

private:
    // "{" followed by a name character opens a name in braces, such as a class identifier.
    bool startsWord(qsizetype pos) const
    {
        return pos < m_text.size() && !m_text[pos].isSpace() && !QStringView(u"{}='").contains(m_text[pos]);
    }

    Token single(Token::Kind kind) { return {kind, QString(m_text[m_pos++]), m_line}; }

    Token quoted()
    {
        Token token{Token::Kind::Quoted, {}, m_line};
        for (++m_pos; m_pos < m_text.size(); ++m_pos) {
            if (m_text[m_pos] == u'\'') {
                if (m_pos + 1 < m_text.size() && m_text[m_pos + 1] == u'\'') {
                    ++m_pos; // '' is one quote
                } else {
                    ++m_pos;
                    return token;
                }
            }
            m_line += m_text[m_pos] == u'\n' ? 1 : 0;
            token.text += m_text[m_pos];
        }
        throw ScriptError{token.line, QStringLiteral("a quote without its end")};
    }

    Token word()
    {
        Token token{Token::Kind::Word, {}, m_line};
        const qsizetype start = m_pos;
        if (m_text[m_pos] == u'{') {
            do
                ++m_pos;
            while (m_pos < m_text.size() && !m_text[m_pos].isSpace() && m_text[m_pos] != u'}');
            if (m_pos == m_text.size() || m_text[m_pos] != u'}')
                throw ScriptError{m_line, QStringLiteral("a name in braces without its closing brace")};
            ++m_pos;
        } else {
            while (m_pos < m_text.size() && startsWord(m_pos))
                ++m_pos;
        }
        token.text = m_text.sliced(start, m_pos - start);
        return token;
    }

    const QString &m_text;
    qsizetype m_pos = 0;
    int m_line = 1;
};

bool isKeyword(const Token &token, const char *keyword)
{
    return token.kind == Token::Kind::Word && token.text.compare(QLatin1StringView(keyword), Qt::CaseInsensitive) == 0;
}

HKEY rootOf(const Token &token)
{
    static const struct {
        const char *shortName;
        const char *longName;
        HKEY root;
    } kRoots[] = {{"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
                  {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                  {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}};
    for (const auto &root : kRoots) {
        if (isKeyword(token, root.shortName) || isKeyword(token, root.longName))
            return root.root;
    }
    throw ScriptError{token.line, QStringLiteral("unknown root ") + token.text};
}

QByteArray numberData(const Token &token)
{
    static const QRegularExpression pattern(QStringLiteral("^(-?\\d+|0[xX][0-9A-Fa-f]{1,8})$"));
    bool ok = false;
    const bool hex = token.text.startsWith(QLatin1StringView("0x"), Qt::CaseInsensitive);
    const qlonglong number = hex ? qlonglong(token.text.sliced(2).toULongLong(&ok, 16)) : token.text.toLongLong(&ok);
    if (!pattern.match(token.text).hasMatch() || !ok || number < std::numeric_limits<std::int32_t>::min() || number > std::numeric_limits<std::uint32_t>::max())
        throw ScriptError{token.line, QStringLiteral("not a 32-bit number: ") + token.text};
    const auto bits = std::uint32_t(number);
    QByteArray data(4, '\0');
    for (int i = 0; i < 4; ++i)
        data[i] = char((bits >> (8 * i)) & 0xFFu);
    return data;
}

QByteArray bytesData(const Token &token)
{
    static const QRegularExpression pattern(QStringLiteral("^([0-9A-Fa-f]{2})*$"));
    if (!pattern.match(token.text).hasMatch())
        throw ScriptError{token.line, QStringLiteral("not hex bytes: ") + token.text};
    return QByteArray::fromHex(token.text.toLatin1());
}

class Parser final {
public:
    explicit Parser(const QString &text) : m_lexer(text) { advance(); }

    QList<RegistrarRoot> script()
    {
        QList<RegistrarRoot> roots;
        while (m_token.kind != Token::Kind::End) {
            RegistrarRoot root{rootOf(m_token), m_token.text, {}};
            advance();
            expect(Token::Kind::Open, "{");
            while (!accept(Token::Kind::Close)) {
                if (isKeyword(m_token, "val"))
                    fail(QStringLiteral("a value cannot sit directly under a root"));
                root.keys.append(key());
            }
            roots.append(std::move(root));
        }
        return roots;
    }

private:
    void advance() { m_token = m_lexer.next(); }

    bool accept(Token::Kind kind)
    {
        if (m_token.kind != kind)
            return false;
        advance();
        return true;
    }

    void expect(Token::Kind kind, const char *what)
    {
        if (!accept(kind))
            fail(QStringLiteral("expected ") + QLatin1StringView(what) + QStringLiteral(" instead of ") + shown());
    }

    [[noreturn]] void fail(const QString &reason) const { throw ScriptError{m_token.line, reason}; }

    QString shown() const
    {
        return m_token.kind == Token::Kind::End ? QStringLiteral("the end of the script") : u'\'' + m_token.text + u'\'';
    }

    QString name(const char *what)
    {
        if ((m_token.kind != Token::Kind::Word && m_token.kind != Token::Kind::Quoted) || m_token.text.isEmpty() ||
            m_token.text.contains(u'\\'))
            fail(QStringLiteral("expected ") + QLatin1StringView(what) + QStringLiteral(" instead of ") + shown());
        QString text = m_token.text;
        advance();
        return text;
    }

    RegistrarKey key()
    {
        RegistrarKey key;
        if (isKeyword(m_token, "NoRemove"))
            key.flag = RegistrarKey::Flag::NoRemove;
        else if (isKeyword(m_token, "ForceRemove"))
            key.flag = RegistrarKey::Flag::ForceRemove;
        else if (isKeyword(m_token, "Delete"))
            key.flag = RegistrarKey::Flag::Delete;
        if (key.flag != RegistrarKey::Flag::None)
            advance();
        key.name = name("a key name");
        if (accept(Token::Kind::Equals))
            key.values.append(value(QString()));
        if (accept(Token::Kind::Open)) {
            while (!accept(Token::Kind::Close)) {
                if (isKeyword(m_token, "val")) {
                    advance();
                    const QString valueName = name("a value name");
                    expect(Token::Kind::Equals, "=");
                    key.values.append(value(valueName));
                } else {
                    key.subKeys.append(this->key());
                }
            }
        }
        return key;
    }

    RegistrarValue value(const QString &valueName)
    {
        const Token type = m_token;
        if (type.kind != Token::Kind::Word)
            fail(QStringLiteral("expected a value type (s, e, d or b) instead of ") + shown());
        advance();
        if (m_token.kind != Token::Kind::Quoted)
            fail(QStringLiteral("expected the value in quotes instead of ") + shown());
        RegistrarValue result{valueName, REG_SZ, {}};
        if (isKeyword(type, "s") || isKeyword(type, "e")) {
            result.type = isKeyword(type, "s") ? REG_SZ : REG_EXPAND_SZ;
            result.data = m_token.text.toUtf8();
            result.data.append('\0');
        } else if (isKeyword(type, "d")) {
            result.type = REG_DWORD;
            result.data = numberData(m_token);
        } else if (isKeyword(type, "b")) {
            result.type = REG_BINARY;
            result.data = bytesData(m_token);
        } else {
            throw ScriptError{type.line, QStringLiteral("unknown value type ") + type.text};
        }
        advance();
        return result;
    }

    Lexer m_lexer;
    Token m_token;
};

}

bool parseRegistrarScript(const QString &script, const Replacements &replacements, QList<RegistrarRoot> *roots,
                          QString *error)
{
    try {
        const QString text = substitute(script, replacements);
        *roots = Parser(text).script();
        return true;
    } catch (const ScriptError &scriptError) {
        if (error)
            *error = QStringLiteral("line ") + QString::number(scriptError.line) + QStringLiteral(": ") +
                     scriptError.reason;
        return false;
    }
}

}

// The text form of a hive: a signature line, then one "[key\path]" section per key, each followed
// by its values as `"name"=type:data` (`@` names the default value). Lines starting with ";" are
// comments. docs/registry.md describes the format for people who edit it.

#include "hive.h"

#include <charconv>
#include <cstdio>

namespace tavrelo::registry {

namespace {

constexpr std::string_view kSignature = "Tavrelo Registry Hive 1";

std::string_view trim(std::string_view s)
{
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void appendQuoted(std::string &out, std::string_view text)
{
    static const char digits[] = "0123456789abcdef";
    out += '"';
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (byte < 0x20 || byte == 0x7f) {
                out += "\\x";
                out += digits[byte >> 4];
                out += digits[byte & 0xf];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

// Reads a quoted string at the start of `s`; on success `s` is left after the closing quote.
bool readQuoted(std::string_view &s, std::string &text, std::string &error)
{
    if (s.empty() || s.front() != '"') {
        error = "expected a quoted string";
        return false;
    }
    text.clear();
    for (size_t i = 1; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            s.remove_prefix(i + 1);
            return true;
        }
        if (c != '\\') {
            text += c;
            continue;
        }
        if (++i >= s.size())
            break;
        switch (s[i]) {
        case '\\': text += '\\'; break;
        case '"': text += '"'; break;
        case 'n': text += '\n'; break;
        case 'r': text += '\r'; break;
        case 't': text += '\t'; break;
        case 'x': {
            const int high = i + 2 < s.size() ? hexDigit(s[i + 1]) : -1;
            const int low = high >= 0 ? hexDigit(s[i + 2]) : -1;
            if (low < 0) {
                error = "bad \\x escape";
                return false;
            }
            text += static_cast<char>(high * 16 + low);
            i += 2;
            break;
        }
        default:
            error = std::string("unknown escape \\") + s[i];
            return false;
        }
    }
    error = "unterminated string";
    return false;
}

bool readHexBytes(std::string_view s, std::string &bytes, std::string &error)
{
    bytes.clear();
    s = trim(s);
    if (s.empty())
        return true;
    size_t pos = 0;
    while (true) {
        const std::string_view item = trim(s.substr(pos, s.find(',', pos) - pos));
        const int high = item.size() == 2 ? hexDigit(item[0]) : -1;
        const int low = high >= 0 ? hexDigit(item[1]) : -1;
        if (low < 0) {
            error = "bad byte \"" + std::string(item) + "\" (two hex digits expected)";
            return false;
        }
        bytes += static_cast<char>(high * 16 + low);
        pos = s.find(',', pos);
        if (pos == std::string_view::npos)
            return true;
        ++pos;
    }
}

bool readValueLine(std::string_view line, Value &value, std::string &error)
{
    if (line.front() == '@') {
        value.name.clear();
        line.remove_prefix(1);
    } else if (!readQuoted(line, value.name, error)) {
        return false;
    }
    line = trim(line);
    if (line.empty() || line.front() != '=') {
        error = "expected '=' after the value name";
        return false;
    }
    line = trim(line.substr(1));
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) {
        error = "expected type:data";
        return false;
    }
    const std::string_view type = line.substr(0, colon);
    std::string_view data = line.substr(colon + 1);

    if (type == "sz" || type == "expand") {
        value.type = type == "sz" ? REG_SZ : REG_EXPAND_SZ;
        if (!readQuoted(data, value.data, error))
            return false;
        if (!trim(data).empty()) {
            error = "unexpected text after the string";
            return false;
        }
        return true;
    }
    if (type == "dword") {
        data = trim(data);
        DWORD number = 0;
        const auto [end, ec] = std::from_chars(data.data(), data.data() + data.size(), number, 16);
        if (ec != std::errc() || end != data.data() + data.size() || data.size() > 8) {
            error = "bad dword (up to eight hex digits expected)";
            return false;
        }
        value.type = REG_DWORD;
        value.data.assign(4, '\0');
        for (int i = 0; i < 4; ++i)
            value.data[i] = static_cast<char>((number >> (8 * i)) & 0xff);
        return true;
    }
    if (type == "hex") {
        value.type = REG_BINARY;
        return readHexBytes(data, value.data, error);
    }
    if (type.size() > 5 && type.substr(0, 4) == "hex(" && type.back() == ')') {
        const std::string_view digits = type.substr(4, type.size() - 5);
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value.type);
        if (ec != std::errc() || end != digits.data() + digits.size()) {
            error = "bad type number";
            return false;
        }
        return readHexBytes(data, value.data, error);
    }
    error = "unknown type \"" + std::string(type) + "\"";
    return false;
}

void appendValue(std::string &out, const Value &value)
{
    if (value.name.empty())
        out += '@';
    else
        appendQuoted(out, value.name);
    out += '=';
    char buffer[16];
    switch (value.type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        out += value.type == REG_SZ ? "sz:" : "expand:";
        appendQuoted(out, value.data);
        break;
    case REG_DWORD:
        if (value.data.size() == 4) {
            DWORD number = 0;
            for (int i = 3; i >= 0; --i)
                number = (number << 8) | static_cast<unsigned char>(value.data[i]);
            std::snprintf(buffer, sizeof buffer, "%08x", number);
            out += "dword:";
            out += buffer;
            break;
        }
        [[fallthrough]]; // a DWORD of another length is kept byte for byte
    default:
        if (value.type == REG_BINARY) {
            out += "hex:";
        } else {
            std::snprintf(buffer, sizeof buffer, "hex(%u):", value.type);
            out += buffer;
        }
        for (size_t i = 0; i < value.data.size(); ++i) {
            std::snprintf(buffer, sizeof buffer, i ? ",%02x" : "%02x", static_cast<unsigned char>(value.data[i]));
            out += buffer;
        }
    }
    out += '\n';
}

void appendKey(std::string &out, const Key &key, const std::string &path, bool isRoot)
{
    // Keys with subkeys but no values are implied by their subkeys' sections.
    if (!key.values().empty() || (key.subkeys().empty() && !isRoot)) {
        out += "\n[";
        out += path;
        out += "]\n";
        for (const Value &value : key.values())
            appendValue(out, value);
    }
    for (const auto &subkey : key.subkeys())
        appendKey(out, *subkey, path.empty() ? subkey->name() : path + '\\' + subkey->name(), false);
}

} // namespace

bool parseHive(std::string_view text, Hive &hive, ParseError &error)
{
    hive.root().clear();
    Key *current = nullptr;
    bool signed_ = false;
    int lineNumber = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        ++lineNumber;
        if (line.empty() || line.front() == ';')
            continue;
        if (!signed_) {
            if (line != kSignature) {
                error = {lineNumber, "the file does not start with \"" + std::string(kSignature) + "\""};
                return false;
            }
            signed_ = true;
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']') {
                error = {lineNumber, "a key line must end with ']'"};
                return false;
            }
            current = &hive.create(splitKeyPath(line.substr(1, line.size() - 2)));
            continue;
        }
        if (!current) {
            error = {lineNumber, "a value before the first [key] line"};
            return false;
        }
        Value value;
        std::string message;
        if (!readValueLine(line, value, message)) {
            error = {lineNumber, message};
            return false;
        }
        current->setValue(value.name, value.type, std::move(value.data));
    }
    // An empty file (no signature at all) is an empty hive.
    return true;
}

std::string serializeHive(const Hive &hive, std::string_view title)
{
    std::string out = "; ";
    out += title;
    out += "\n; Edit only while no Clipvane program runs, or use the clipvane-reg command.\n";
    out += kSignature;
    out += '\n';
    appendKey(out, hive.root(), std::string(), true);
    return out;
}

} // namespace tavrelo::registry

// clipvane-reg: the registry from the shell, for users, administrators (machine-wide defaults
// under HKLM) and tests. Modelled on the Windows "reg" command.

#include "registry/hive.h"
#include "registry/regkey.h"
#include "registry/winreg.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using namespace tavrelo::registry;

namespace {

constexpr const char *kUsage = R"(Usage:
  clipvane-reg --help | --version
  clipvane-reg query  KEY [-v NAME | --ve] [-s]
  clipvane-reg add    KEY [-v NAME | --ve] [-t TYPE] [-d DATA]
  clipvane-reg delete KEY [-v NAME | --ve | --va]
  clipvane-reg export KEY FILE [-y]

KEY     ROOT\path\of\key; ROOT is HKCU, HKLM, HKCR or their long names
        (HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT)
-v NAME the value NAME; --ve the default (unnamed) value; --va all values of the key
-s      query the key and every key below it
-t TYPE REG_SZ (the default), REG_EXPAND_SZ, REG_DWORD or REG_BINARY
-d DATA the value's data: text, a number (decimal, 0x hex, negative allowed) or hex bytes
-y      let export replace an existing FILE

Each option may be given once; -v, --ve and --va exclude each other.

Without -v, --ve or --va, add creates the key and delete removes it with everything below it.
)";

struct Failure {
    int exitCode;
    std::string message;
};

struct Root {
    const char *shortName;
    const char *longName;
    HKEY handle;
};

const Root kRoots[] = {
    {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
};

struct KeyName {
    const Root *root;
    std::string path; // below the root, without leading "\"
    std::string display() const { return path.empty() ? root->longName : std::string(root->longName) + '\\' + path; }
};

KeyName parseKeyName(const std::string &text)
{
    const std::string rootName = text.substr(0, text.find('\\'));
    for (const Root &root : kRoots) {
        if (sameName(rootName, root.shortName) || sameName(rootName, root.longName))
            return {&root, joinKeyPath(splitKeyPath(text.size() > rootName.size() ? text.substr(rootName.size()) : ""))};
    }
    throw Failure{2, "\"" + text + "\" does not start with HKCU, HKLM or HKCR."};
}

struct Options {
    std::string command;
    std::vector<std::string> operands;
    std::optional<std::string> valueName; // "" is the default value
    bool allValues = false;
    bool recursive = false;
    bool overwrite = false;
    std::string type = "REG_SZ";
    std::optional<std::string> data;
};

// The options, by their names on the command line: "-x" for one letter, "--xy" for more.
std::string spelled(const QString &name)
{
    return (name.size() == 1 ? "-" : "--") + name.toStdString();
}

Options parseOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    const QString value = QStringLiteral("value");
    parser.addOptions({{QStringLiteral("v"), QString(), value}, {QStringLiteral("ve"), QString()},
                       {QStringLiteral("va"), QString()}, {QStringLiteral("s"), QString()},
                       {QStringLiteral("y"), QString()}, {QStringLiteral("t"), QString(), value},
                       {QStringLiteral("d"), QString(), value},
                       {QStringList{QStringLiteral("h"), QStringLiteral("help")}, QString()},
                       {QStringLiteral("version"), QString()}});
    if (!parser.parse(arguments)) {
        // In this command's own words: an option it does not know, or one whose value is missing
        // (which can only be the last argument).
        if (!parser.unknownOptionNames().isEmpty())
            throw Failure{2, "unknown option " + spelled(parser.unknownOptionNames().front()) + "."};
        if (arguments.size() > 1 && QStringList{QStringLiteral("-v"), QStringLiteral("-t"), QStringLiteral("-d")}.contains(arguments.back()))
            throw Failure{2, arguments.back().toStdString() + " needs an argument."};
        throw Failure{2, parser.errorText().toStdString()};
    }
    Options options;
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("version"))) {
        options.command = parser.isSet(QStringLiteral("help")) ? "--help" : "--version";
        return options;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        throw Failure{2, "no command given."};
    options.command = positional.front().toStdString();
    for (qsizetype i = 1; i < positional.size(); ++i)
        options.operands.push_back(positional.at(i).toLocal8Bit().toStdString());
    // Each option at most once, and at most one of the value selectors: a command line that says
    // two things is refused rather than acted on by whichever came last.
    QStringList given;
    QString selector; // the first of -v, --ve and --va
    for (const QString &name : parser.optionNames()) {
        if (given.contains(name))
            throw Failure{2, spelled(name) + " is given more than once."};
        given.push_back(name);
        if (name == u"v" || name == u"ve" || name == u"va") {
            if (!selector.isEmpty())
                throw Failure{2, spelled(selector) + " and " + spelled(name) + " exclude each other."};
            selector = name;
        }
    }
    const auto valueOf = [&parser](const char *name) { return parser.value(QLatin1String(name)).toLocal8Bit().toStdString(); };
    if (parser.isSet(QStringLiteral("v")))
        options.valueName = valueOf("v");
    else if (parser.isSet(QStringLiteral("ve")))
        options.valueName = "";
    options.allValues = parser.isSet(QStringLiteral("va"));
    options.recursive = parser.isSet(QStringLiteral("s"));
    options.overwrite = parser.isSet(QStringLiteral("y"));
    if (parser.isSet(QStringLiteral("t")))
        options.type = valueOf("t");
    if (parser.isSet(QStringLiteral("d")))
        options.data = valueOf("d");
    return options;
}

void check(LONG error, const std::string &what)
{
    if (error != ERROR_SUCCESS)
        throw Failure{1, what + ": " + describeError(error)};
}

// Opens (or makes) the named key, or fails naming it and the reason.
RegKey openKey(const KeyName &name, REGSAM access, bool create)
{
    RegKey key;
    const QString path = QString::fromStdString(name.path);
    check(create ? RegKey::create(name.root->handle, path, &key) : RegKey::open(name.root->handle, path, access, &key),
          name.display());
    return key;
}

const char *typeName(DWORD type)
{
    switch (type) {
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    default: return "REG_NONE";
    }
}

std::optional<DWORD> typeFromName(const std::string &name)
{
    for (DWORD type : {REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD}) {
        if (sameName(name, typeName(type)))
            return type;
    }
    return std::nullopt;
}

std::string formatData(const Value &value)
{
    if (value.type == REG_SZ || value.type == REG_EXPAND_SZ)
        return value.data;
    char buffer[16];
    if (value.type == REG_DWORD && value.data.size() == 4) {
        DWORD number = 0;
        std::memcpy(&number, value.data.data(), 4);
        std::snprintf(buffer, sizeof buffer, "0x%x", number);
        return buffer;
    }
    std::string hex;
    for (unsigned char byte : value.data) {
        std::snprintf(buffer, sizeof buffer, "%02X", byte);
        hex += buffer;
    }
    return hex;
}

// All values of an open key, in order.
std::vector<Value> readValues(HKEY key)
{
    DWORD count = 0, longestName = 0, longestData = 0;
    check(RegQueryInfoKey(key, nullptr, nullptr, &count, &longestName, &longestData), "reading the key");
    std::vector<Value> values;
    std::vector<char> name(longestName + 1);
    std::vector<BYTE> data(longestData + 1);
    for (DWORD i = 0; i < count; ++i) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        Value value;
        if (RegEnumValue(key, i, name.data(), &nameSize, &value.type, data.data(), &dataSize) != ERROR_SUCCESS)
            continue; // changed meanwhile by another process
        value.name.assign(name.data(), nameSize);
        const bool text = value.type == REG_SZ || value.type == REG_EXPAND_SZ;
        value.data.assign(reinterpret_cast<const char *>(data.data()), text && dataSize ? dataSize - 1 : dataSize);
        values.push_back(std::move(value));
    }
    return values;
}

std::vector<std::string> readSubkeys(HKEY key)
{
    DWORD count = 0, longest = 0;
    check(RegQueryInfoKey(key, &count, &longest), "reading the key");
    std::vector<std::string> names;
    std::vector<char> name(longest + 1);
    for (DWORD i = 0; i < count; ++i) {
        DWORD size = static_cast<DWORD>(name.size());
        if (RegEnumKeyEx(key, i, name.data(), &size) == ERROR_SUCCESS)
            names.emplace_back(name.data(), size);
    }
    return names;
}

KeyName child(const KeyName &parent, const std::string &name)
{
    return {parent.root, parent.path.empty() ? name : parent.path + '\\' + name};
}

void printValue(const Value &value)
{
    std::printf("    %s    %s    %s\n", value.name.empty() ? "(Default)" : value.name.c_str(), typeName(value.type),
                formatData(value).c_str());
}

void query(const KeyName &name, const Options &options)
{
    const RegKey key = openKey(name, KEY_READ, false);
    if (options.valueName) {
        for (const Value &value : readValues(key.handle())) {
            if (sameName(value.name, *options.valueName)) {
                std::printf("%s\n", name.display().c_str());
                printValue(value);
                return;
            }
        }
        throw Failure{1, "the value \"" + *options.valueName + "\" was not found in " + name.display() + "."};
    }
    std::printf("%s\n", name.display().c_str());
    for (const Value &value : readValues(key.handle()))
        printValue(value);
    std::printf("\n");
    for (const std::string &subkey : readSubkeys(key.handle())) {
        if (options.recursive)
            query(child(name, subkey), options);
        else
            std::printf("%s\n", child(name, subkey).display().c_str());
    }
}

std::string parseData(DWORD type, const std::string &text)
{
    if (type == REG_SZ || type == REG_EXPAND_SZ)
        return text;
    if (type == REG_DWORD) {
        const bool negative = !text.empty() && text[0] == '-';
        std::string_view digits = std::string_view(text).substr(negative ? 1 : 0);
        int base = 10;
        if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
            digits.remove_prefix(2);
            base = 16;
        }
        std::uint64_t magnitude = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
        const bool fits = negative ? magnitude <= 0x80000000u : magnitude <= 0xffffffffu;
        if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || !fits)
            throw Failure{2, "\"" + text + "\" is not a 32-bit number."};
        const auto number = static_cast<DWORD>(negative ? 0u - magnitude : magnitude);
        return std::string(reinterpret_cast<const char *>(&number), 4);
    }
    std::string hex;
    for (char c : text) {
        if (c != ',' && c != ' ')
            hex += c;
    }
    if (hex.size() % 2)
        throw Failure{2, "\"" + text + "\" is not a sequence of hex bytes."};
    std::string bytes;
    for (size_t i = 0; i < hex.size(); i += 2) {
        unsigned byte = 0;
        const auto [end, ec] = std::from_chars(hex.data() + i, hex.data() + i + 2, byte, 16);
        if (ec != std::errc() || end != hex.data() + i + 2)
            throw Failure{2, "\"" + text + "\" is not a sequence of hex bytes."};
        bytes += static_cast<char>(byte);
    }
    return bytes;
}

void add(const KeyName &name, const Options &options)
{
    const auto type = typeFromName(options.type);
    if (!type)
        throw Failure{2, "unknown type " + options.type + " (REG_SZ, REG_EXPAND_SZ, REG_DWORD or REG_BINARY)."};
    if (!options.valueName && options.data)
        throw Failure{2, "-d needs -v NAME or --ve."};
    std::string data = parseData(*type, options.data.value_or(*type == REG_DWORD ? "0" : ""));
    if (*type == REG_SZ || *type == REG_EXPAND_SZ)
        data += '\0';
    const RegKey key = openKey(name, KEY_WRITE, true);
    if (!options.valueName)
        return;
    check(RegSetValueEx(key.handle(), options.valueName->c_str(), *type, reinterpret_cast<const BYTE *>(data.data()),
                        static_cast<DWORD>(data.size())),
          name.display());
}

void remove(const KeyName &name, const Options &options)
{
    if (options.valueName) {
        const RegKey key = openKey(name, KEY_WRITE, false);
        check(RegDeleteValue(key.handle(), options.valueName->c_str()),
              name.display() + (options.valueName->empty() ? " (Default)" : "\\" + *options.valueName));
    } else if (options.allValues) {
        const RegKey key = openKey(name, KEY_READ | KEY_WRITE, false);
        for (const Value &value : readValues(key.handle()))
            check(RegDeleteValue(key.handle(), value.name.c_str()), name.display());
    } else {
        if (name.path.empty())
            throw Failure{2, "a whole root cannot be deleted."};
        check(RegDeleteTree(name.root->handle, name.path.c_str()), name.display());
    }
}

void copyTree(const KeyName &name, Hive &hive)
{
    const RegKey key = openKey(name, KEY_READ, false);
    Key &target = hive.create(splitKeyPath(name.display()));
    for (Value &value : readValues(key.handle()))
        target.setValue(value.name, value.type, std::move(value.data));
    for (const std::string &subkey : readSubkeys(key.handle()))
        copyTree(child(name, subkey), hive);
}

void exportKey(const KeyName &name, const std::string &file, const Options &options)
{
    if (!options.overwrite && std::filesystem::exists(file))
        throw Failure{1, file + " exists; add -y to replace it."};
    Hive hive;
    copyTree(name, hive);
    const std::string text = serializeHive(hive, "Exported from " + name.display());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out)
        throw Failure{1, "cannot write " + file + ": " + std::strerror(errno)};
}

int run(const QStringList &arguments)
{
    const Options options = parseOptions(arguments);
    if (options.command == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.command == "--version") {
        std::printf("clipvane-reg %s\n", CLIPVANE_VERSION);
        return 0;
    }
    const size_t wanted = options.command == "export" ? 2 : 1;
    if (options.operands.size() != wanted)
        throw Failure{2, options.command + " takes " + (wanted == 2 ? "a key and a file." : "one key.")};
    const KeyName name = parseKeyName(options.operands[0]);
    if (options.command == "query")
        query(name, options);
    else if (options.command == "add")
        add(name, options);
    else if (options.command == "delete")
        remove(name, options);
    else if (options.command == "export")
        exportKey(name, options.operands[1], options);
    else
        throw Failure{2, "unknown command \"" + options.command + "\"."};
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const QCoreApplication app(argc, argv);
    try {
        return run(QCoreApplication::arguments());
    } catch (const Failure &failure) {
        std::fprintf(stderr, "clipvane-reg: %s\n", failure.message.c_str());
        if (failure.exitCode == 2)
            std::fputs(kUsage, stderr);
        return failure.exitCode;
    }
}

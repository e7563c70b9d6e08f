// The text form of a hive: everything written reads back the same, hand edits are understood,
// and damage is reported with its line.

#include "registry/hive.h"

#include <gtest/gtest.h>

using namespace tavrelo::registry;

namespace {

Hive parsed(std::string_view text)
{
    Hive hive;
    ParseError error;
    EXPECT_TRUE(parseHive(text, hive, error)) << "line " << error.line << ": " << error.message;
    return hive;
}

ParseError failure(std::string_view text)
{
    Hive hive;
    ParseError error;
    EXPECT_FALSE(parseHive(text, hive, error)) << text;
    return error;
}

const Value &valueAt(const Hive &hive, std::string_view path, std::string_view name)
{
    static const Value none;
    const Key *key = hive.find(splitKeyPath(path));
    if (!key) {
        ADD_FAILURE() << "no key " << path;
        return none;
    }
    const Value *value = key->findValue(name);
    if (!value) {
        ADD_FAILURE() << "no value " << name << " in " << path;
        return none;
    }
    return *value;
}

} // namespace

TEST(HiveFormat, everyTypeAndAwkwardNamesSurviveARoundTrip)
{
    Hive hive;
    Key &key = hive.create(splitKeyPath("Software\\Tavrelo\\Quillet\\Quillet"));
    key.setValue("", REG_SZ, "default");
    key.setValue("Quote \" and \\ backslash", REG_SZ, "line1\nline2\ttab\r\x01\x7f end");
    key.setValue("Zoë 日本", REG_EXPAND_SZ, "%HOME%/Zoë.t-q");
    key.setValue("Minus", REG_DWORD, std::string("\xff\xff\xff\xff", 4));
    key.setValue("WindowPos", REG_BINARY, std::string("\x2c\x00\x00\x00\x01", 5));
    key.setValue("Empty", REG_BINARY, "");
    key.setValue("Odd", 7, std::string("a\0b", 3));
    key.setValue("ShortDword", REG_DWORD, "ab");
    hive.create(splitKeyPath("Software\\Empty Key [with] brackets "));
    hive.root().setValue("AtRoot", REG_SZ, "root value");

    const std::string text = serializeHive(hive, "test");
    const Hive back = parsed(text);
    EXPECT_EQ(serializeHive(back, "test"), text);

    const Key *copy = back.find(splitKeyPath("software\\tavrelo\\quillet\\quillet"));
    ASSERT_NE(copy, nullptr);
    ASSERT_EQ(copy->values().size(), key.values().size());
    for (size_t i = 0; i < key.values().size(); ++i) {
        EXPECT_EQ(copy->values()[i].name, key.values()[i].name);
        EXPECT_EQ(copy->values()[i].type, key.values()[i].type);
        EXPECT_EQ(copy->values()[i].data, key.values()[i].data);
    }
    EXPECT_NE(back.find(splitKeyPath("Software\\Empty Key [with] brackets ")), nullptr);
    EXPECT_EQ(valueAt(back, "", "AtRoot").data, "root value");
}

TEST(HiveFormat, isReadableText)
{
    Hive hive;
    Key &key = hive.create(splitKeyPath("Software\\Tavrelo"));
    key.setValue("LastFile", REG_SZ, "/home/ann/My.t-q");
    key.setValue("SortBy", REG_DWORD, std::string("\x2a\0\0\0", 4));
    const std::string text = serializeHive(hive, "test");
    EXPECT_NE(text.find("[Software\\Tavrelo]\n\"LastFile\"=sz:\"/home/ann/My.t-q\"\n\"SortBy\"=dword:0000002a\n"),
              std::string::npos)
        << text;
}

TEST(HiveFormat, acceptsHandEditing)
{
    const Hive hive = parsed("; a comment\n"
                             "\n"
                             "Tavrelo Registry Hive 1\r\n"
                             "  [Software\\A]  \n"
                             "  \"Number\" = dword:2A\n"
                             "  @ = sz:\"x\"  \n"
                             "; comment between values\n"
                             "\"Bytes\"=hex: 01, 0a ,FF\n"
                             "[software\\a\\B]\n"
                             "\"twice\"=sz:\"old\"\n"
                             "\"TWICE\"=sz:\"new\"\n");
    EXPECT_EQ(valueAt(hive, "Software\\A", "number").data, std::string("\x2a\0\0\0", 4));
    EXPECT_EQ(valueAt(hive, "Software\\A", "").data, "x");
    EXPECT_EQ(valueAt(hive, "Software\\A", "Bytes").data, "\x01\x0a\xff");
    EXPECT_EQ(valueAt(hive, "Software\\A\\B", "twice").data, "new");
    EXPECT_EQ(hive.root().subkeys().size(), 1u);
}

TEST(HiveFormat, emptyTextIsAnEmptyHive)
{
    EXPECT_TRUE(parsed("").root().subkeys().empty());
    EXPECT_TRUE(parsed("; only a comment\n\n").root().subkeys().empty());
}

TEST(HiveFormat, damageIsReportedWithItsLine)
{
    const char *header = "Tavrelo Registry Hive 1\n[K]\n";
    struct Case {
        std::string text;
        int line;
    };
    const Case cases[] = {
        {"<?xml version=\"1.0\"?>\n", 1},
        {"; c\nREGEDIT4\n", 2},
        {"Tavrelo Registry Hive 1\n\"v\"=sz:\"x\"\n", 2},
        {std::string(header) + "[unclosed\n", 3},
        {std::string(header) + "\"v\"=sz:\"unterminated\n", 3},
        {std::string(header) + "\"v\"=sz:\"bad \\q escape\"\n", 3},
        {std::string(header) + "\"v\"=sz:\"x\" trailing\n", 3},
        {std::string(header) + "\"v\" sz:\"x\"\n", 3},
        {std::string(header) + "\"v\"=dword:123456789\n", 3},
        {std::string(header) + "\"v\"=dword:xyz\n", 3},
        {std::string(header) + "\"v\"=hex:1,2\n", 3},
        {std::string(header) + "\"v\"=hex(x):00\n", 3},
        {std::string(header) + "\"v\"=text:\"x\"\n", 3},
        {std::string(header) + "\"v\"=sz:\"\\x4\"\n", 3},
    };
    for (const Case &c : cases) {
        const ParseError error = failure(c.text);
        EXPECT_EQ(error.line, c.line) << c.text;
        EXPECT_FALSE(error.message.empty()) << c.text;
    }
}

TEST(HiveNames, matchWithoutRegardToCaseAndKeepTheirSpelling)
{
    Hive hive;
    Key &key = hive.create(splitKeyPath("Software\\ÄrgerlichKey"));
    EXPECT_EQ(hive.find(splitKeyPath("SOFTWARE\\ärgerlichkey")), &key);
    key.setValue("Alpha", REG_SZ, "1");
    key.setValue("ALPHA", REG_SZ, "2");
    ASSERT_EQ(key.values().size(), 1u);
    EXPECT_EQ(key.values()[0].name, "Alpha");
    EXPECT_EQ(key.values()[0].data, "2");
    EXPECT_TRUE(key.removeValue("alpha"));
    EXPECT_TRUE(key.values().empty());

    Key &parent = hive.create(splitKeyPath("Sorted"));
    for (const char *name : {"beta", "Alpha", "GAMMA", "delta"})
        parent.ensureSubkey(name);
    std::vector<std::string> names;
    for (const auto &subkey : parent.subkeys())
        names.push_back(subkey->name());
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "beta", "delta", "GAMMA"}));
}

TEST(HiveNames, keyPathsIgnoreEmptyParts)
{
    EXPECT_EQ(splitKeyPath("\\Software\\\\Tavrelo\\"), (KeyPath{"Software", "Tavrelo"}));
    EXPECT_TRUE(splitKeyPath("").empty());
    EXPECT_EQ(joinKeyPath({"a", "b"}), "a\\b");
}

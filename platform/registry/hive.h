#pragma once

// One hive in memory: a tree of keys with typed values, as read from and written to a hive file.

#include "winreg.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tavrelo::registry {

// Key and value names match without regard to letter case (Unicode case folding).
std::string foldName(std::string_view name);
bool sameName(std::string_view a, std::string_view b);

// A key path split at "\"; empty components are dropped.
using KeyPath = std::vector<std::string>;
KeyPath splitKeyPath(std::string_view path);
std::string joinKeyPath(const KeyPath &path);

struct Value {
    std::string name; // empty: the default value
    DWORD type = REG_NONE;
    std::string data; // raw bytes; for string types the text without its terminator
};

class Key final {
public:
    explicit Key(std::string name = {}) : m_name(std::move(name)) {}
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    Key(Key &&) = default;
    Key &operator=(Key &&) = default;

    const std::string &name() const { return m_name; }

    const std::vector<Value> &values() const { return m_values; }
    const Value *findValue(std::string_view name) const;
    void setValue(std::string_view name, DWORD type, std::string data);
    bool removeValue(std::string_view name);
    void clear();

    // Subkeys in sorted order of their folded names.
    const std::vector<std::unique_ptr<Key>> &subkeys() const { return m_subkeys; }
    Key *findSubkey(std::string_view name) const;
    Key &ensureSubkey(std::string_view name, bool *created = nullptr);
    bool removeSubkey(std::string_view name);

private:
    std::vector<std::unique_ptr<Key>>::const_iterator lowerBound(const std::string &folded) const;

    std::string m_name;
    std::vector<Value> m_values;
    std::vector<std::unique_ptr<Key>> m_subkeys;
};

class Hive final {
public:
    Key &root() { return m_root; }
    const Key &root() const { return m_root; }

    Key *find(const KeyPath &path) const;
    Key &create(const KeyPath &path, bool *created = nullptr);
    // Removes the key at `path` with everything below it; the root cannot be removed.
    bool remove(const KeyPath &path);

private:
    Key m_root;
};

// The text form of a hive. See docs/registry.md for the format.
struct ParseError {
    int line = 0;
    std::string message;
};
bool parseHive(std::string_view text, Hive &hive, ParseError &error);
std::string serializeHive(const Hive &hive, std::string_view title);

} // namespace tavrelo::registry

#include "hive.h"

#include <QString>

#include <algorithm>

namespace tavrelo::registry {

std::string foldName(std::string_view name)
{
    const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) {
        std::string folded(name);
        for (char &c : folded) {
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        }
        return folded;
    }
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())).toCaseFolded().toStdString();
}

bool sameName(std::string_view a, std::string_view b)
{
    return foldName(a) == foldName(b);
}

KeyPath splitKeyPath(std::string_view path)
{
    KeyPath parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > start)
            parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string joinKeyPath(const KeyPath &path)
{
    std::string joined;
    for (const std::string &part : path) {
        if (!joined.empty())
            joined += '\\';
        joined += part;
    }
    return joined;
}

const Value *Key::findValue(std::string_view name) const
{
    const std::string folded = foldName(name);
    for (const Value &value : m_values) {
        if (foldName(value.name) == folded)
            return &value;
    }
    return nullptr;
}

void Key::setValue(std::string_view name, DWORD type, std::string data)
{
    if (auto *existing = const_cast<Value *>(findValue(name))) {
        existing->type = type;
        existing->data = std::move(data);
        return;
    }
    m_values.push_back(Value{std::string(name), type, std::move(data)});
}

bool Key::removeValue(std::string_view name)
{
    const std::string folded = foldName(name);
    const auto it = std::find_if(m_values.begin(), m_values.end(),
                                 [&](const Value &value) { return foldName(value.name) == folded; });
    if (it == m_values.end())
        return false;
    m_values.erase(it);
    return true;
}

void Key::clear()
{
    m_values.clear();
    m_subkeys.clear();
}

std::vector<std::unique_ptr<Key>>::const_iterator Key::lowerBound(const std::string &folded) const
{
    return std::lower_bound(m_subkeys.begin(), m_subkeys.end(), folded,
                            [](const std::unique_ptr<Key> &key, const std::string &f) { return foldName(key->name()) < f; });
}

Key *Key::findSubkey(std::string_view name) const
{
    const std::string folded = foldName(name);
    const auto it = lowerBound(folded);
    return it != m_subkeys.end() && foldName((*it)->name()) == folded ? it->get() : nullptr;
}

Key &Key::ensureSubkey(std::string_view name, bool *created)
{
    const std::string folded = foldName(name);
    const auto it = lowerBound(folded);
    if (it != m_subkeys.end() && foldName((*it)->name()) == folded) {
        if (created)
            *created = false;
        return **it;
    }
    if (created)
        *created = true;
    return **m_subkeys.insert(it, std::make_unique<Key>(std::string(name)));
}

bool Key::removeSubkey(std::string_view name)
{
    const std::string folded = foldName(name);
    const auto it = lowerBound(folded);
    if (it == m_subkeys.end() || foldName((*it)->name()) != folded)
        return false;
    m_subkeys.erase(it);
    return true;
}

Key *Hive::find(const KeyPath &path) const
{
    auto *key = const_cast<Key *>(&m_root);
    for (const std::string &part : path) {
        key = key->findSubkey(part);
        if (!key)
            return nullptr;
    }
    return key;
}

Key &Hive::create(const KeyPath &path, bool *created)
{
    Key *key = &m_root;
    bool madeAny = false;
    for (const std::string &part : path) {
        bool made = false;
        key = &key->ensureSubkey(part, &made);
        madeAny = madeAny || made;
    }
    if (created)
        *created = madeAny;
    return *key;
}

bool Hive::remove(const KeyPath &path)
{
    if (path.empty())
        return false;
    Key *parent = find(KeyPath(path.begin(), path.end() - 1));
    return parent && parent->removeSubkey(path.back());
}

} // namespace tavrelo::registry

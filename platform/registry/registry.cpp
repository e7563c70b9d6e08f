#include "winreg.h"

#include "hivefile.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <unordered_set>

namespace tavrelo::registry {

// Which tree a handle looks at. Classes is HKEY_CLASSES_ROOT: its paths are relative to
// Software\Classes in both hives.
enum class View { User, Machine, Classes };

struct KeyHandle {
    View view;
    KeyPath path;
    REGSAM access;
};

namespace {

KeyHandle g_classesRoot{View::Classes, {}, KEY_ALL_ACCESS};
KeyHandle g_userRoot{View::User, {}, KEY_ALL_ACCESS};
KeyHandle g_machineRoot{View::Machine, {}, KEY_ALL_ACCESS};

std::mutex g_handlesMutex;
std::unordered_set<const KeyHandle *> g_openHandles;

bool isPredefined(const KeyHandle *key)
{
    return key == &g_classesRoot || key == &g_userRoot || key == &g_machineRoot;
}

bool isValid(const KeyHandle *key)
{
    if (isPredefined(key))
        return true;
    const std::lock_guard lock(g_handlesMutex);
    return key && g_openHandles.count(key);
}

HKEY newHandle(View view, KeyPath path, REGSAM access)
{
    auto *key = new KeyHandle{view, std::move(path), access};
    const std::lock_guard lock(g_handlesMutex);
    g_openHandles.insert(key);
    return key;
}

bool isStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// Key names are single lines without the separator; the hive files rely on that.
bool isValidPath(const KeyPath &path)
{
    return std::all_of(path.begin(), path.end(), [](const std::string &part) {
        return part.size() <= 255 &&
               std::none_of(part.begin(), part.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    });
}

// The handle's path extended by `subKey`, or nothing when `subKey` is not a valid path.
std::optional<KeyPath> resolve(const KeyHandle *key, const char *subKey)
{
    KeyPath path = key->path;
    if (subKey) {
        for (std::string &part : splitKeyPath(subKey))
            path.push_back(std::move(part));
    }
    if (!isValidPath(path))
        return std::nullopt;
    return path;
}

const KeyPath &classesPrefix()
{
    static const KeyPath prefix{"Software", "Classes"};
    return prefix;
}

// Where a view's path lies in a hive.
KeyPath inHive(View view, const KeyPath &path)
{
    if (view != View::Classes)
        return path;
    KeyPath full = classesPrefix();
    full.insert(full.end(), path.begin(), path.end());
    return full;
}

// The hives a view reads from, in the order they are searched.
std::vector<HiveId> hivesOf(View view)
{
    switch (view) {
    case View::User: return {HiveId::User};
    case View::Machine: return {HiveId::Machine};
    case View::Classes: return {HiveId::User, HiveId::Machine};
    }
    return {};
}

// A read-only copy of one key as the view shows it: for HKEY_CLASSES_ROOT the user's values come
// first and hide the machine's of the same name, and the subkeys of both are merged.
struct KeyView {
    std::vector<Value> values;
    std::vector<std::string> subkeys; // sorted by folded name, no duplicates
};

std::optional<KeyView> snapshot(View view, const KeyPath &path)
{
    std::optional<KeyView> result;
    for (const HiveId id : hivesOf(view)) {
        const Hive hive = readHive(id);
        const Key *key = hive.find(inHive(view, path));
        if (!key)
            continue;
        if (!result)
            result.emplace();
        for (const Value &value : key->values()) {
            const bool hidden = std::any_of(result->values.begin(), result->values.end(),
                                            [&](const Value &seen) { return sameName(seen.name, value.name); });
            if (!hidden)
                result->values.push_back(value);
        }
        for (const auto &subkey : key->subkeys())
            result->subkeys.push_back(subkey->name());
    }
    if (result && view == View::Classes) {
        auto &names = result->subkeys;
        std::stable_sort(names.begin(), names.end(),
                         [](const std::string &a, const std::string &b) { return foldName(a) < foldName(b); });
        names.erase(std::unique(names.begin(), names.end(),
                                [](const std::string &a, const std::string &b) { return sameName(a, b); }),
                    names.end());
    }
    // The roots always exist, even in a hive that has never been written.
    if (!result && path.empty())
        result.emplace();
    return result;
}

bool exists(HiveId id, View view, const KeyPath &path)
{
    return path.empty() || readHive(id).find(inHive(view, path)) != nullptr;
}

using KeyChange = std::function<LONG(Key &key, bool &changed)>;

// Applies `change` to the key at `path`. For HKEY_CLASSES_ROOT the change goes to the user's
// classes when the key exists there, otherwise to the machine's; when the machine's hive may not
// be written by this user it goes to the user's, so that a per-user installation can register
// itself. The key is created there when missing. For the other views the key must exist unless
// `createMissing` is set.
LONG changeKey(View view, const KeyPath &path, const KeyChange &change, bool createMissing = false)
{
    const auto apply = [&](HiveId id, bool create) {
        return changeHive(id, [&](Hive &hive, bool &changed) -> LONG {
            const KeyPath full = inHive(view, path);
            Key *key = hive.find(full);
            if (!key) {
                if (!create)
                    return ERROR_FILE_NOT_FOUND;
                key = &hive.create(full);
                changed = true;
            }
            return change(*key, changed);
        });
    };
    if (view != View::Classes)
        return apply(view == View::User ? HiveId::User : HiveId::Machine, createMissing || path.empty());
    if (exists(HiveId::User, view, path) && !path.empty())
        return apply(HiveId::User, true);
    const LONG result = apply(HiveId::Machine, true);
    return result == ERROR_ACCESS_DENIED ? apply(HiveId::User, true) : result;
}

// Applies `change` in every hive of the view where `path` exists (deletions through
// HKEY_CLASSES_ROOT remove what both hives hold). ERROR_FILE_NOT_FOUND when none had it.
LONG changeEverywhere(View view, const KeyPath &path, const std::function<LONG(Hive &hive, bool &changed)> &change)
{
    LONG result = ERROR_FILE_NOT_FOUND;
    for (const HiveId id : hivesOf(view)) {
        if (!exists(id, view, path))
            continue;
        const LONG outcome = changeHive(id, change);
        if (outcome == ERROR_FILE_NOT_FOUND)
            continue;
        if (result == ERROR_FILE_NOT_FOUND || result == ERROR_SUCCESS)
            result = outcome;
    }
    return result;
}

LONG copyValue(const Value &value, DWORD *type, BYTE *data, DWORD *dataSize)
{
    const size_t needed = value.data.size() + (isStringType(value.type) ? 1 : 0);
    if (type)
        *type = value.type;
    if (!data) {
        if (dataSize)
            *dataSize = static_cast<DWORD>(needed);
        return ERROR_SUCCESS;
    }
    if (!dataSize)
        return ERROR_INVALID_PARAMETER;
    if (*dataSize < needed) {
        *dataSize = static_cast<DWORD>(needed);
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, value.data.data(), value.data.size());
    if (isStringType(value.type))
        data[value.data.size()] = 0;
    *dataSize = static_cast<DWORD>(needed);
    return ERROR_SUCCESS;
}

LONG copyName(const std::string &name, char *buffer, DWORD *size)
{
    if (!buffer || !size)
        return ERROR_INVALID_PARAMETER;
    if (*size < name.size() + 1)
        return ERROR_MORE_DATA;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *size = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

std::string_view valueNameOf(const char *name) { return name ? name : ""; }

} // namespace

HKEY const HKEY_CLASSES_ROOT = &g_classesRoot;
HKEY const HKEY_CURRENT_USER = &g_userRoot;
HKEY const HKEY_LOCAL_MACHINE = &g_machineRoot;

LONG RegOpenKeyEx(HKEY key, const char *subKey, REGSAM access, HKEY *result)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (!isValid(key))
        return ERROR_INVALID_HANDLE;
    const auto path = resolve(key, subKey);
    if (!path)
        return ERROR_BAD_PATHNAME;
    if (!snapshot(key->view, *path))
        return ERROR_FILE_NOT_FOUND;
    *result = newHandle(key->view, *path, access);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyEx(HKEY key, const char *subKey, REGSAM access, HKEY *result, DWORD *disposition)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (!isValid(key))
        return ERROR_INVALID_HANDLE;
    const auto path = resolve(key, subKey);
    if (!path)
        return ERROR_BAD_PATHNAME;
    bool created = false;
    if (!snapshot(key->view, *path)) {
        if (!(key->access & KEY_CREATE_SUB_KEY))
            return ERROR_ACCESS_DENIED;
        const LONG error = changeKey(key->view, *path, [&](Key &, bool &changed) {
            created = changed;
            return ERROR_SUCCESS;
        }, true);
        if (error != ERROR_SUCCESS)
            return error;
    }
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = newHandle(key->view, *path, access);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key)
{
    if (isPredefined(key))
        return ERROR_SUCCESS;
    {
        const std::lock_guard lock(g_handlesMutex);
        if (!key || !g_openHandles.erase(key))
            return ERROR_INVALID_HANDLE;
    }
    delete key;
    return ERROR_SUCCESS;
}

LONG RegQueryValueEx(HKEY key, const char *valueName, DWORD *type, BYTE *data, DWORD *dataSize)
{
    if (!isValid(key))
        return ERROR_INVALID_HANDLE;
    if (!(key->access & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    const auto view = snapshot(key->view, key->path);
    if (!view)
        return ERROR_FILE_NOT_FOUND;
    const std::string_view name = valueNameOf(valueName);
    for (const Value &value : view->values) {
        if (sameName(value.name, name))
            return copyValue(value, type, data, dataSize);
    }
    return ERROR_FILE_NOT_FOUND;
}

LONG RegSetValueEx(HKEY key, const char *valueName, DWORD type, const BYTE *data, DWORD dataSize)
{
    if (!isValid(key))
        return ERROR_INVALID_HANDLE;
    if (!(key->access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    if (!data && dataSize)
        return ERROR_INVALID_PARAMETER;
    std::string bytes(reinterpret_cast<const char *>(data), data ? dataSize : 0);
    if (isStringType(type))
        bytes.resize(std::strlen(bytes.c_str())); // the text ends at its terminator
    const std::string name(valueNameOf(valueName));
    return changeKey(key->view, key->path, [&](Key &target, bool &changed) {
        target.setValue(name, type, bytes);
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValue(HKEY key, const char *valueName)
{
    if (!isValid(key))
        return ERROR_INVALID_HANDLE;
    if (!(key->access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    const std::string_view name = valueNameOf(valueName);
    return changeEverywhere(key->view, key->path, [&](Hive &hive, bool &changed) -> LONG {
        Key *target = hive.find(inHive(key->view, key->path));
        changed = target && target->removeValue(name);
        return changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
}

namespace {

LONG deleteKey(HKEY key, const char *subKey, bool wholeTree)
{
    if (!isValid(key))
        return ERROR_INVALID_HANDLE;
    const auto path = resolve(key, subKey);
    if (!path)
        return ERROR_BAD_PATHNAME;
    if (!wholeTree && path->size() == key->path.size())
        return ERROR_INVALID_PARAMETER; // RegDeleteKey needs a subkey to delete
    return changeEverywhere(key->view, *path, [&](Hive &hive, bool &changed) -> LONG {
        const KeyPath full = inHive(key->view, *path);
        Key *target = hive.find(full);
        if (!target)
            return ERROR_FILE_NOT_FOUND;
        if (!wholeTree && !target->subkeys().empty())
            return ERROR_ACCESS_DENIED;
        if (path->size() == key->path.size()) {
            changed = !target->values().empty() || !target->subkeys().empty();
            target->clear();
        } else {
            changed = hive.remove(full);
        }
        return ERROR_SUCCESS;
    });
}

} // namespace

LONG RegDeleteKey(HKEY key, const char *subKey)
{
    return deleteKey(key, subKey, false);
}

LONG RegDeleteTree(HKEY key, const char *subKey)
{
    const LONG result = deleteKey(key, subKey, true);
    // Emptying a key that is already empty is no error.
    return result == ERROR_FILE_NOT_FOUND && (!subKey || !*subKey) && isValid(key) && snapshot(key->view, key->path)
               ? ERROR_SUCCESS
               : result;
}

LONG RegQueryInfoKey(HKEY key, DWORD *subKeys, DWORD *maxSubKeyLen, DWORD *values, DWORD *maxValueNameLen,
                     DWORD *maxValueLen)
{
    if (!isValid(key))
        return ERROR_INVALID_HANDLE;
    if (!(key->access & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    const auto view = snapshot(key->view, key->path);
    if (!view)
        return ERROR_FILE_NOT_FOUND;
    DWORD longestKey = 0, longestName = 0, longestData = 0;
    for (const std::string &name : view->subkeys)
        longestKey = std::max(longestKey, static_cast<DWORD>(name.size()));
    for (const Value &value : view->values) {
        longestName = std::max(longestName, static_cast<DWORD>(value.name.size()));
        longestData = std::max(longestData, static_cast<DWORD>(value.data.size() + (isStringType(value.type) ? 1 : 0)));
    }
    if (subKeys)
        *subKeys = static_cast<DWORD>(view->subkeys.size());
    if (maxSubKeyLen)
        *maxSubKeyLen = longestKey;
    if (values)
        *values = static_cast<DWORD>(view->values.size());
    if (maxValueNameLen)
        *maxValueNameLen = longestName;
    if (maxValueLen)
        *maxValueLen = longestData;
    return ERROR_SUCCESS;
}

LONG RegEnumKeyEx(HKEY key, DWORD index, char *name, DWORD *nameSize)
{
    if (!isValid(key))
        return ERROR_INVALID_HANDLE;
    if (!(key->access & KEY_ENUMERATE_SUB_KEYS))
        return ERROR_ACCESS_DENIED;
    const auto view = snapshot(key->view, key->path);
    if (!view)
        return ERROR_FILE_NOT_FOUND;
    if (index >= view->subkeys.size())
        return ERROR_NO_MORE_ITEMS;
    return copyName(view->subkeys[index], name, nameSize);
}

LONG RegEnumValue(HKEY key, DWORD index, char *name, DWORD *nameSize, DWORD *type, BYTE *data, DWORD *dataSize)
{
    if (!isValid(key))
        return ERROR_INVALID_HANDLE;
    if (!(key->access & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    const auto view = snapshot(key->view, key->path);
    if (!view)
        return ERROR_FILE_NOT_FOUND;
    if (index >= view->values.size())
        return ERROR_NO_MORE_ITEMS;
    const Value &value = view->values[index];
    if (const LONG error = copyName(value.name, name, nameSize); error != ERROR_SUCCESS)
        return error;
    return copyValue(value, type, data, dataSize);
}

DWORD ExpandEnvironmentStrings(const char *source, char *destination, DWORD destinationSize)
{
    if (!source)
        return 0;
    std::string expanded;
    const std::string_view text = source;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t open = text.find('%', pos);
        const size_t close = open == std::string_view::npos ? open : text.find('%', open + 1);
        if (close == std::string_view::npos) {
            expanded += text.substr(pos);
            break;
        }
        expanded += text.substr(pos, open - pos);
        const std::string name(text.substr(open + 1, close - open - 1));
        const char *value = name.empty() ? nullptr : std::getenv(name.c_str());
        if (value) {
            expanded += value;
            pos = close + 1;
        } else {
            // Not a variable: keep the first "%" and look again from the second.
            expanded += '%';
            expanded += name;
            pos = close;
        }
    }
    const auto needed = static_cast<DWORD>(expanded.size() + 1);
    if (destination && destinationSize >= needed)
        std::memcpy(destination, expanded.c_str(), needed);
    return needed;
}

const char *describeError(LONG error)
{
    switch (error) {
    case ERROR_SUCCESS: return "The operation completed successfully.";
    case ERROR_FILE_NOT_FOUND: return "The key or value was not found.";
    case ERROR_ACCESS_DENIED: return "Access is denied.";
    case ERROR_INVALID_HANDLE: return "The key handle is not valid.";
    case ERROR_OUTOFMEMORY: return "Not enough memory.";
    case ERROR_INVALID_PARAMETER: return "A parameter is not valid.";
    case ERROR_BAD_PATHNAME: return "The key path is not valid.";
    case ERROR_MORE_DATA: return "The buffer is too small.";
    case ERROR_NO_MORE_ITEMS: return "No more items.";
    case ERROR_BADDB: return "The registry hive is corrupt and was left untouched.";
    case ERROR_CANTWRITE: return "The registry hive could not be written.";
    default: return "Unknown registry error.";
    }
}

} // namespace tavrelo::registry

#pragma once

// The registry as the helper object, the launcher, registration and the mail members use it:
// keys and typed values under three predefined roots, with the calling conventions of the
// Win32 registry functions (handles, LONG error codes, caller-sized buffers), so that code
// written for that interface runs unchanged.
//
// Text is UTF-8 throughout. Key paths use "\" as separator; key and value names are compared
// without regard to letter case and stored as first written. A null or empty value name is the
// key's default (unnamed) value.
//
// Storage: HKEY_CURRENT_USER lives in the hive file "user.reg", HKEY_LOCAL_MACHINE in
// "machine.reg" (see hivelocation.h for where). HKEY_CLASSES_ROOT is a merged view of
// HKCU\Software\Classes over HKLM\Software\Classes. Every call reads the hive afresh, so it sees
// what other processes wrote; every change is written atomically under a cross-process lock.

#include <cstdint>

namespace tavrelo::registry {

using LONG = std::int32_t;
using DWORD = std::uint32_t;
using BYTE = std::uint8_t;
using REGSAM = std::uint32_t;

struct KeyHandle;
using HKEY = KeyHandle *;

// The predefined roots. They are never closed; closing one is harmless.
extern HKEY const HKEY_CLASSES_ROOT;
extern HKEY const HKEY_CURRENT_USER;
extern HKEY const HKEY_LOCAL_MACHINE;

// Error codes (the Win32 numbers).
inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_OUTOFMEMORY = 14;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_BAD_PATHNAME = 161;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;
inline constexpr LONG ERROR_BADDB = 1009;
inline constexpr LONG ERROR_CANTWRITE = 1013;

// Value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;

// Access rights. A handle allows only what it was opened for.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM DELETE = 0x00010000;
inline constexpr REGSAM KEY_READ = 0x00020019;
inline constexpr REGSAM KEY_WRITE = 0x00020006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;

// Dispositions reported by RegCreateKeyEx.
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Opens an existing key. `subKey` null or empty opens `key` itself again.
LONG RegOpenKeyEx(HKEY key, const char *subKey, REGSAM access, HKEY *result);

// Opens a key, creating it and every missing key above it.
LONG RegCreateKeyEx(HKEY key, const char *subKey, REGSAM access, HKEY *result, DWORD *disposition = nullptr);

LONG RegCloseKey(HKEY key);

// Reads a value. With `data` null only type and size are reported. When `*dataSize` is too
// small, ERROR_MORE_DATA is returned with the size needed. String values are returned with
// their terminating NUL, which the size counts.
LONG RegQueryValueEx(HKEY key, const char *valueName, DWORD *type, BYTE *data, DWORD *dataSize);

// Writes a value. For REG_SZ and REG_EXPAND_SZ the text ends at the first NUL within `dataSize`.
LONG RegSetValueEx(HKEY key, const char *valueName, DWORD type, const BYTE *data, DWORD dataSize);

LONG RegDeleteValue(HKEY key, const char *valueName);

// Deletes a key that has no subkeys.
LONG RegDeleteKey(HKEY key, const char *subKey);

// Deletes a key with everything below it; `subKey` null or empty deletes what is below `key`
// (its values and subkeys) and keeps `key` itself.
LONG RegDeleteTree(HKEY key, const char *subKey);

// Counts and longest lengths (in bytes, without terminator). Any pointer may be null.
LONG RegQueryInfoKey(HKEY key, DWORD *subKeys, DWORD *maxSubKeyLen, DWORD *values = nullptr,
                     DWORD *maxValueNameLen = nullptr, DWORD *maxValueLen = nullptr);

// Names the subkey at `index` (sorted without regard to case). `*nameSize` holds the buffer's
// size and receives the name's length without terminator; ERROR_NO_MORE_ITEMS past the end.
LONG RegEnumKeyEx(HKEY key, DWORD index, char *name, DWORD *nameSize);

// Names the value at `index` (in the order the values were first written) and reads it as
// RegQueryValueEx does. The default value has the empty name.
LONG RegEnumValue(HKEY key, DWORD index, char *name, DWORD *nameSize, DWORD *type, BYTE *data, DWORD *dataSize);

// Replaces every %NAME% with the environment variable's value; unknown names and a lone "%"
// stay as written. Returns the size the result needs including its terminator, and writes it
// only when `destination` holds that many bytes. Returns 0 on failure (null source).
DWORD ExpandEnvironmentStrings(const char *source, char *destination, DWORD destinationSize);

// A short English description of an error code, for messages.
const char *describeError(LONG error);

} // namespace tavrelo::registry

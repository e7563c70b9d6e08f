// Test helper: writes COUNT values named PREFIX-0 ... PREFIX-(COUNT-1) into
// HKCU\Software\Stress and HKCR\Stress, one registry call each, as another process would.

#include "registry/winreg.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace tavrelo::registry;

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: hivewriter PREFIX COUNT\n");
        return 2;
    }
    const std::string prefix = argv[1];
    const int count = std::atoi(argv[2]);
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_CLASSES_ROOT}) {
        HKEY key = nullptr;
        if (RegCreateKeyEx(root, root == HKEY_CURRENT_USER ? "Software\\Stress" : "Stress", KEY_ALL_ACCESS, &key) !=
            ERROR_SUCCESS)
            return 1;
        for (int i = 0; i < count; ++i) {
            const std::string name = prefix + "-" + std::to_string(i);
            if (RegSetValueEx(key, name.c_str(), REG_SZ, reinterpret_cast<const BYTE *>(name.c_str()),
                              static_cast<DWORD>(name.size() + 1)) != ERROR_SUCCESS)
                return 1;
        }
        RegCloseKey(key);
    }
    return 0;
}

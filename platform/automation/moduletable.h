#pragma once

// The modules this process loaded through the automation layer, each once by its canonical path.
//
// Two kinds of users share the table. Modules whose resources were read are pinned: resource
// bytes and cached type libraries come from them, so they stay loaded for good. Modules loaded
// only to create objects may be unloaded again once their DllCanUnloadNow answers S_OK; pinning
// one later keeps it loaded from then on.

#include <QHash>
#include <QString>

#include <mutex>

namespace tavrelo::automation {

class ModuleTable final {
public:
    static ModuleTable &instance();

    // The module's handle, loading it when needed; null with a reason in *error.
    void *load(const QString &path, bool pin, QString *error);
    // Unloads the unpinned modules that say they can go.
    void unloadUnused();

    // Hold this while using a module loaded unpinned, so that it is not unloaded meanwhile.
    std::recursive_mutex &mutex() { return m_mutex; }

private:
    struct Module {
        void *handle = nullptr;
        bool pinned = false;
    };

    std::recursive_mutex m_mutex;
    QHash<QString, Module> m_modules; // by canonical path
};

}

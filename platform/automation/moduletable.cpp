#include "moduletable.h"

#include "classes.h"

#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

namespace tavrelo::automation {

ModuleTable &ModuleTable::instance()
{
    static ModuleTable table;
    return table;
}

void *ModuleTable::load(const QString &path, bool pin, QString *error)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty()) {
        if (error)
            *error = QStringLiteral("no such file: ") + path;
        return nullptr;
    }
    const std::scoped_lock lock(m_mutex);
    Module &module = m_modules[canonical];
    if (!module.handle) {
        module.handle = dlopen(QFile::encodeName(canonical).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!module.handle) {
            if (error)
                *error = QString::fromLocal8Bit(dlerror());
            m_modules.remove(canonical);
            return nullptr;
        }
    }
    module.pinned = module.pinned || pin;
    return module.handle;
}

void ModuleTable::unloadUnused()
{
    const std::scoped_lock lock(m_mutex);
    for (auto it = m_modules.begin(); it != m_modules.end();) {
        const auto canUnload = reinterpret_cast<DllCanUnloadNowFunction>(dlsym(it->handle, "DllCanUnloadNow"));
        if (!it->pinned && canUnload && canUnload() == S_OK) {
            dlclose(it->handle);
            it = m_modules.erase(it);
        } else {
            ++it;
        }
    }
}

}

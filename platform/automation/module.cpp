#include "module.h"

#include "moduletable.h"

#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

namespace tavrelo::automation {

QString modulePathOf(const void *address)
{
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname)
        return {};
    return QFileInfo(QFile::decodeName(info.dli_fname)).absoluteFilePath();
}

void *loadModule(const QString &path, QString *error) { return ModuleTable::instance().load(path, true, error); }

void *moduleEntry(void *module, const char *name) { return module ? dlsym(module, name) : nullptr; }

HRESULT loadModuleResource(const QString &path, const QString &type, const QString &name, QByteArray *data)
{
    if (!data)
        return E_POINTER;
    const auto find = reinterpret_cast<TavreloFindResourceFunction>(moduleEntry(loadModule(path), kFindResourceEntry));
    if (!find)
        return TYPE_E_CANTLOADLIBRARY;
    const unsigned char *bytes = nullptr;
    std::size_t size = 0;
    if (!find(type.toUtf8().constData(), name.toUtf8().constData(), &bytes, &size))
        return TYPE_E_ELEMENTNOTFOUND;
    *data = QByteArray(reinterpret_cast<const char *>(bytes), qsizetype(size));
    return S_OK;
}

}

#include "membertable.h"

namespace tavrelo::automation {

bool entriesMatch(const TypeInfo &info, std::span<const EntryCheck> checks, QString *problem)
{
    const QList<FuncDesc> &funcs = info.funcs();
    const auto served = static_cast<qsizetype>(checks.size());
    if (funcs.size() != served) {
        *problem = QStringLiteral("%1 has %2 entries where %3 are served").arg(info.name()).arg(funcs.size()).arg(served);
        return false;
    }
    for (const FuncDesc &func : funcs) {
        if (func.vtableIndex < 0 || func.vtableIndex >= served || !checks[static_cast<std::size_t>(func.vtableIndex)](func)) {
            *problem = QStringLiteral("%1.%2 (entry %3) does not take the parameters of its member")
                           .arg(info.name(), func.name)
                           .arg(func.vtableIndex);
            return false;
        }
    }
    return true;
}

} // namespace tavrelo::automation

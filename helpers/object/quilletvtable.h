#pragma once

// IQuillet's entries as the type library's late-bound calls reach them: one MethodThunk per
// entry, in the library's order.

#include "automation/typeinfo.h"

#include <QString>

#include <span>

namespace tavrelo::helpers {

namespace quilletvtable {

std::span<const tavrelo::automation::MethodThunk> entries();

// Whether `info` describes exactly these entries: as many, each at its place taking the
// parameters its member takes. Calls through entries() are only safe for such a type info; any
// other (an old or damaged library) is refused with the reason in *problem.
bool matches(const tavrelo::automation::TypeInfo &info, QString *problem);

} // namespace quilletvtable

} // namespace tavrelo::helpers

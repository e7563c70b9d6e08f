#pragma once

// The Open and Save dialogs of the pages, answered by a person or by the test surface
// (TAVRELO_AUTOMATION) and logged either way (TAVRELO_AUTOMATION_LOG).

#include "automation/unknown.h"

#include <QString>

#include <cstdint>

namespace tavrelo::mail {

// The file chosen in an Open (or, with `saveDialog`, a Save) dialog, empty when none was. `flags`
// are those of the platform's common file dialog. The dialog's owner is the window of `site`,
// when it has one.
QString browseForFile(bool saveDialog, const QString &title, const QString &filter, const QString &defaultExtension,
                      const QString &initialDir, std::int32_t flags, IUnknown *site);

} // namespace tavrelo::mail

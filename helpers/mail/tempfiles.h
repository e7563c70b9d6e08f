#pragma once

// Free names in the temporary folder, for the files a page hands to a mail client.

#include <QString>

namespace tavrelo::mail {

// "name.ext" in the temporary folder, else the first free "name (n).ext" (n up to 9999); empty
// when there is no temporary folder or it refuses new files. "/" in the name or extension
// becomes "_"; a name that names no file of its own becomes "Collection".
QString freeTempFilePath(const QString &fileName, const QString &extension);

} // namespace tavrelo::mail

#pragma once

// res: addresses name a resource inside a library file: "res://" + the library's absolute path +
// "/" + the resource's name, as in res:///usr/lib/libTavreloHelpers.so/TavTracker.hta.

#include <QString>
#include <QUrl>

#include <optional>

namespace tavrelo::htahost {

struct ResAddress {
    QString library;  // absolute path of the library file
    QString resource; // the resource's name, never empty
};

// The library is the first leading part of the path that is an existing file; nothing when the
// address is not a res: address, names no existing file, or names no resource inside it.
std::optional<ResAddress> parseResAddress(const QUrl &url);

QUrl resUrl(const QString &library, const QString &resource);

// The host's reserved paths, which are never resources.
inline constexpr QStringView kBridgePath = u"/$bridge/";
inline constexpr QStringView kPrintPath = u"/$print/";

} // namespace tavrelo::htahost

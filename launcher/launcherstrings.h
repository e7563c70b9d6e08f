#pragma once

// The texts the launcher shows a person, numbered as in its string table. Every message box has
// string 1 as its caption.

namespace tavrelo::launcher {

inline constexpr char kCaption[] = "Tavrelo Quillet"; // 1
inline constexpr char kHelpersMissing[] = // 2
    "Tavrelo Quillet Helper Library has not been found.\nYou may need to reinstall the application.";
inline constexpr char kNoHtaHandler[] = // 3
    "Failed to determine which program should be used\nto run HTML Applications.\n"
    "You may need to reinstall the application.";
inline constexpr char kVersionFormat[] = "Version %s"; // 4, with kVersion

inline constexpr char kVersion[] = CLIPVANE_VERSION;

// The viewer page inside the helper library.
inline constexpr char kViewerPage[] = "TavTracker.hta";
// Library paths longer than this many bytes are not put into the viewer's address.
inline constexpr int kMaxLibraryPathBytes = 520;

}

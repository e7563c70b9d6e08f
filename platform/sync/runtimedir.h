#pragma once

#include <QString>

namespace tavrelo::sync {

// The per-user folder for lock and endpoint files: $TAVRELO_RUNTIME_DIR, else
// $XDG_RUNTIME_DIR/tavrelo (else the temporary folder's tavrelo). Made on first use, private to
// the user.
QString runtimeDirectory();

}

#pragma once

// Which program runs HTML Applications: the open command registered for the ".hta" file type,
// found as the original platform finds it: HKEY_CLASSES_ROOT\.hta names the file class, whose
// shell\open\command holds the command template.

#include <QString>

namespace tavrelo::shell {

struct HtaOpenCommand {
    enum class Outcome {
        Found,
        NoFileClass,   // ".hta" is missing, not a string, or empty
        NoOpenCommand, // the class has no usable open command
    };
    Outcome outcome = Outcome::NoFileClass;
    QString commandTemplate; // as stored: an expandable string is not expanded
};

HtaOpenCommand findHtaOpenCommand();

}

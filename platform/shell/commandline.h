#pragma once

// Command lines as the desktop's registered open commands hold them: arguments joined into one
// text, a command template expanded, and a command line split back into a program and its
// arguments. The launcher and the browser's native host both start programs this way.
//
// Quoting follows the rules programs of the original platform parse their command lines by:
// blanks separate arguments outside double quotes; a double quote starts or ends a quoted stretch;
// backslashes are literal unless they come before a double quote, where 2n backslashes give n
// and the quote keeps its meaning, and 2n + 1 give n and a literal quote.

#include <QString>
#include <QStringList>

namespace tavrelo::shell {

// One argument in double quotes; an inner `"` is written `\"` (and backslashes before a quote
// are doubled, so that splitting gives the argument back).
QString quoteArgument(const QString &argument);

// The arguments, each quoted, joined by single spaces; empty for none.
QString argumentString(const QStringList &arguments);

// Expands an open-command template: "%%" is "%", "%1" (not followed by a decimal digit) the
// page's address, "%*" the argument string; "%" and any other character drop that character
// and the decimal digits after it; a "%" at the end is dropped; everything else is copied.
QString expandCommandTemplate(QStringView commandTemplate, const QString &pageAddress, const QString &arguments);

// Splits a command line into the program and its arguments.
QStringList splitCommandLine(QStringView commandLine);

}

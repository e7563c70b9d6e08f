// White-space handling and comparison of texts.
//
// White space is exactly space, tab, line feed, vertical tab, form feed and carriage return. The
// engine's \s would also take the no-break space and other Unicode spaces, which users type on
// purpose, so the class is spelled out.

var gsStringWhiteSpace = "[ \\t\\n\\x0B\\f\\r]";
var goStringOuterSpaces = new RegExp("^" + gsStringWhiteSpace + "+|" + gsStringWhiteSpace + "+$", "g");
var goStringSpaceRuns = new RegExp(gsStringWhiteSpace + "+", "g");

// Callers pass attribute values and form fields; a missing one counts as empty text.
function fnStringFrom(someString)
{
    return (someString === undefined || someString === null) ? "" : String(someString);
}

function fnStringRemoveOutterSpaces(szString)
{
    return fnStringFrom(szString).replace(goStringOuterSpaces, "");
}

function fnStringDelimiterSingleSpace(szString)
{
    return fnStringFrom(szString).replace(goStringSpaceRuns, " ");
}

function fnStringPrepareForCompare(szString)
{
    return fnStringDelimiterSingleSpace(fnStringRemoveOutterSpaces(szString)).toLowerCase();
}

function fnStringEqual(szString1, szString2)
{
    return fnStringPrepareForCompare(szString1) == fnStringPrepareForCompare(szString2);
}

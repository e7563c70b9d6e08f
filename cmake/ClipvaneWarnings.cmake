# Every target of ours builds with the same strict warnings; CLIPVANE_WERROR makes them errors.
option(CLIPVANE_WERROR "Treat compiler warnings as errors" ON)

function(clipvane_strict_target target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
    if(CLIPVANE_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
    target_compile_definitions(${target} PRIVATE
        QT_NO_CAST_TO_ASCII QT_NO_URL_CAST_FROM_STRING QT_USE_QSTRINGBUILDER QT_NO_KEYWORDS)
endfunction()

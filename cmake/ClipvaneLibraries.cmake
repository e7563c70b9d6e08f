# Every library of ours offers its headers under an include root of its own, which holds only the
# headers it names: include/<target>/<prefix>/<header> in the build tree, each a link to the source.
# A target sees its own folder and the roots of what it links, nothing else, so a header of a
# library it does not link is a build error. Sources include their own folder's headers by bare
# name and another library's as "<prefix>/<header>".
function(clipvane_public_headers target)
    cmake_parse_arguments(ARG "" "PREFIX" "HEADERS" ${ARGN})
    if(NOT ARG_PREFIX)
        message(FATAL_ERROR "clipvane_public_headers(${target}): PREFIX is missing")
    endif()
    set(root "${CMAKE_BINARY_DIR}/include/${target}")
    file(REMOVE_RECURSE "${root}")
    foreach(header IN LISTS ARG_HEADERS)
        set(source "${CMAKE_CURRENT_SOURCE_DIR}/${header}")
        if(NOT EXISTS "${source}")
            message(FATAL_ERROR "clipvane_public_headers(${target}): ${header} does not exist")
        endif()
        get_filename_component(folder "${root}/${ARG_PREFIX}/${header}" DIRECTORY)
        file(MAKE_DIRECTORY "${folder}")
        file(CREATE_LINK "${source}" "${root}/${ARG_PREFIX}/${header}" SYMBOLIC)
    endforeach()
    get_target_property(kind ${target} TYPE)
    if(kind STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${target} INTERFACE "${root}")
    else()
        target_include_directories(${target} PUBLIC "${root}")
    endif()
endfunction()

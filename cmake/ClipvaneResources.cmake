# clipvane_embed_resources(<target> TYPE <type> [BASE_DIR <dir>] FILES <file>...)
#
# Embeds files into a module as resources of <type> ("HTML", "TYPELIB", "REGISTRY", ...). A
# file's resource name is its path relative to BASE_DIR, or its file name when BASE_DIR is not
# given. May be called several times for one target; the target then exports
#   extern "C" int TavreloFindResource(const char *type, const char *name,
#                                      const unsigned char **data, std::size_t *size)
# which serves exactly those names.
#
# Types are letters, digits and underscores. Names match exactly (case-sensitive); a name given
# twice for one type stops the configuration. Relative FILES and BASE_DIR are taken from the
# calling directory. Each resource's bytes are followed by one NUL that its size does not count.
#
# How: one source per target is generated after every call is known (at the end of the top-level
# directory). It pulls the files in with the assembler's .incbin, so nothing is converted at build
# time, and its object depends on the files, so changing one rebuilds the module.

function(clipvane_embed_resources target)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "TYPE;BASE_DIR" "FILES")
    if(ARG_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "clipvane_embed_resources(${target}): unexpected arguments ${ARG_UNPARSED_ARGUMENTS}")
    endif()
    if(NOT TARGET ${target})
        message(FATAL_ERROR "clipvane_embed_resources: no target named ${target}")
    endif()
    if(NOT ARG_TYPE MATCHES "^[A-Za-z0-9_]+$")
        message(FATAL_ERROR "clipvane_embed_resources(${target}): TYPE must be letters, digits and underscores, not '${ARG_TYPE}'")
    endif()
    if(DEFINED ARG_BASE_DIR)
        get_filename_component(base "${ARG_BASE_DIR}" ABSOLUTE)
    endif()

    get_target_property(keys ${target} CLIPVANE_RESOURCE_KEYS)
    get_target_property(paths ${target} CLIPVANE_RESOURCE_FILES)
    if(NOT keys)
        set(keys "")
        set(paths "")
    endif()
    foreach(file IN LISTS ARG_FILES)
        get_filename_component(path "${file}" ABSOLUTE)
        if(DEFINED ARG_BASE_DIR)
            file(RELATIVE_PATH name "${base}" "${path}")
            if(name MATCHES "^\\.\\./")
                message(FATAL_ERROR "clipvane_embed_resources(${target}): ${path} is not below BASE_DIR ${base}")
            endif()
        else()
            get_filename_component(name "${path}" NAME)
        endif()
        if(path MATCHES "[\n\r]")
            message(FATAL_ERROR "clipvane_embed_resources(${target}): a file path may not hold a line break")
        endif()
        set(key "${ARG_TYPE}|${name}")
        list(FIND keys "${key}" taken)
        if(NOT taken EQUAL -1)
            list(GET paths ${taken} other)
            message(FATAL_ERROR "clipvane_embed_resources(${target}): duplicate resource ${ARG_TYPE} \"${name}\" "
                                "from ${path} and ${other}")
        endif()
        list(APPEND keys "${key}")
        list(APPEND paths "${path}")
    endforeach()
    set_target_properties(${target} PROPERTIES CLIPVANE_RESOURCE_KEYS "${keys}" CLIPVANE_RESOURCE_FILES "${paths}")

    get_target_property(source ${target} CLIPVANE_RESOURCE_SOURCE)
    if(NOT source)
        set(source "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.cpp")
        set_target_properties(${target} PROPERTIES CLIPVANE_RESOURCE_SOURCE "${source}")
        target_sources(${target} PRIVATE "${source}")
        # A deferred call evaluates its arguments when it runs: bind the target's name now.
        cmake_language(EVAL CODE
            "cmake_language(DEFER DIRECTORY [[${CMAKE_SOURCE_DIR}]] CALL _clipvane_write_resource_source [[${target}]])")
    endif()
endfunction()

# Escapes text for a C++ or assembler string literal.
function(_clipvane_quote out text)
    string(REPLACE "\\" "\\\\" text "${text}")
    string(REPLACE "\"" "\\\"" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(_clipvane_write_resource_source target)
    get_target_property(keys ${target} CLIPVANE_RESOURCE_KEYS)
    get_target_property(paths ${target} CLIPVANE_RESOURCE_FILES)
    get_target_property(source ${target} CLIPVANE_RESOURCE_SOURCE)
    if(NOT keys)
        set(keys "")
        set(paths "")
    endif()
    string(MAKE_C_IDENTIFIER "clipvane_res_${target}" prefix)

    set(assembly "")
    set(declarations "")
    set(entries "")
    set(count 0)
    foreach(key path IN ZIP_LISTS keys paths)
        string(FIND "${key}" "|" bar)
        string(SUBSTRING "${key}" 0 ${bar} type)
        math(EXPR start "${bar} + 1")
        string(SUBSTRING "${key}" ${start} -1 name)
        _clipvane_quote(quoted_name "${name}")
        _clipvane_quote(quoted_path "${path}")
        set(symbol "${prefix}_${count}")
        string(APPEND assembly
            "    .balign 16\n"
            "    .globl ${symbol}\n    .hidden ${symbol}\n${symbol}:\n"
            "    .incbin \"${quoted_path}\"\n"
            "    .globl ${symbol}_end\n    .hidden ${symbol}_end\n${symbol}_end:\n"
            "    .byte 0\n")
        string(APPEND declarations
            "extern const unsigned char ${symbol}[] __attribute__((visibility(\"hidden\")));\n"
            "extern const unsigned char ${symbol}_end[] __attribute__((visibility(\"hidden\")));\n")
        string(APPEND entries "    {\"${type}\", \"${quoted_name}\", ${symbol}, ${symbol}_end},\n")
        math(EXPR count "${count} + 1")
    endforeach()

    string(CONCAT content
        "// Generated by clipvane_embed_resources for ${target}: change the CMake calls, not this file.\n\n"
        "#include <array>\n#include <cstddef>\n#include <cstdint>\n#include <cstring>\n\n"
        "asm(R\"clipvane_embed(\n    .pushsection .rodata\n${assembly}    .popsection\n)clipvane_embed\");\n\n"
        "extern \"C\" {\n${declarations}}\n\n"
        "namespace {\n\n"
        "struct Resource {\n    const char *type;\n    const char *name;\n"
        "    const unsigned char *begin;\n    const unsigned char *end;\n};\n\n"
        "const std::array<Resource, ${count}> kResources{{\n${entries}}};\n\n"
        "} // namespace\n\n"
        "extern \"C\" __attribute__((visibility(\"default\"))) int TavreloFindResource(\n"
        "    const char *type, const char *name, const unsigned char **data, std::size_t *size)\n"
        "{\n"
        "    if (!type || !name)\n        return 0;\n"
        "    for (const Resource &resource : kResources) {\n"
        "        if (std::strcmp(resource.type, type) != 0 || std::strcmp(resource.name, name) != 0)\n"
        "            continue;\n"
        "        if (data)\n            *data = resource.begin;\n"
        "        if (size)\n"
        "            *size = static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(resource.end) -\n"
        "                                             reinterpret_cast<std::uintptr_t>(resource.begin));\n"
        "        return 1;\n"
        "    }\n"
        "    return 0;\n"
        "}\n")

    # Written through a copy that changes only with the content, so reconfiguring rebuilds nothing.
    file(WRITE "${source}.in" "${content}")
    configure_file("${source}.in" "${source}" COPYONLY)
    if(paths)
        set_source_files_properties("${source}" TARGET_DIRECTORY ${target} PROPERTIES OBJECT_DEPENDS "${paths}")
    endif()
endfunction()

# The rules by which tests and benchmarks are built and run.
#
# clipvane_add_test(<program> SOURCES ... [LIBS ...] [DEPENDS ...] [DEFINES ...]
#                   [PREFIX <p>] [XVFB] [SERIAL] [TIMEOUT <s>] [NAME <test>] [ARGS ...])
#   Builds a GoogleTest program (strict warnings, the shared support headers, the programs named
#   by DEPENDS built first). Without XVFB every case is a ctest entry of its own (named <p><case>);
#   with XVFB the program is one entry, <test> (the program's name unless given), run with ARGS
#   under its own X server. SERIAL keeps other tests from sharing the cores while it runs.
#
# clipvane_add_test_run(<test> COMMAND <program> [args...] [XVFB] [SERIAL] [TIMEOUT <s>] [LABELS ...])
#   One more ctest entry: a program (a target or a path) with its arguments.
#
# clipvane_add_benchmark(<program> SOURCES ... [LIBS ...] [DEPENDS ...] [DEFINES ...])
#   A benchmark program: built like a test, run by hand (README), never by ctest.
#
# clipvane_add_pages_library(<target> FILES ...)
#   An in-process server carrying test pages and the probe class they script (testsupport/pages).

find_package(GTest REQUIRED)
include(GoogleTest)
find_program(XVFB_RUN xvfb-run REQUIRED)
# A run under Xvfb stays there when started from a Wayland session: without WAYLAND_DISPLAY and
# with the X11 platform named, no program of the run reaches the desktop's compositor (Qt would
# otherwise try the default Wayland socket where the session says it is Wayland).
set(CLIPVANE_XVFB env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb ${XVFB_RUN} -a -s "-screen 0 1280x1024x24")

function(_clipvane_test_program target)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;DEPENDS;DEFINES" ${ARGN})
    add_executable(${target} ${ARG_SOURCES})
    target_link_libraries(${target} PRIVATE clipvane_testsupport ${ARG_LIBS} Qt6::Core)
    if(ARG_DEFINES)
        target_compile_definitions(${target} PRIVATE ${ARG_DEFINES})
    endif()
    if(ARG_DEPENDS)
        add_dependencies(${target} ${ARG_DEPENDS})
    endif()
    clipvane_strict_target(${target})
endfunction()

function(clipvane_add_test_run name)
    cmake_parse_arguments(ARG "XVFB;SERIAL" "TIMEOUT" "COMMAND;LABELS" ${ARGN})
    list(POP_FRONT ARG_COMMAND program)
    if(TARGET ${program})
        set(program "$<TARGET_FILE:${program}>")
    endif()
    if(ARG_XVFB)
        add_test(NAME ${name} COMMAND ${CLIPVANE_XVFB} ${program} ${ARG_COMMAND})
        list(APPEND ARG_LABELS page)
    else()
        add_test(NAME ${name} COMMAND ${program} ${ARG_COMMAND})
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
    if(ARG_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
    if(ARG_SERIAL)
        set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
    endif()
endfunction()

function(clipvane_add_test target)
    cmake_parse_arguments(ARG "XVFB;SERIAL" "PREFIX;TIMEOUT;NAME" "SOURCES;LIBS;DEPENDS;DEFINES;ARGS" ${ARGN})
    _clipvane_test_program(${target} SOURCES ${ARG_SOURCES} LIBS ${ARG_LIBS} GTest::gtest GTest::gtest_main
        DEPENDS ${ARG_DEPENDS} DEFINES ${ARG_DEFINES})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    if(ARG_XVFB)
        if(NOT ARG_NAME)
            set(ARG_NAME ${target})
        endif()
        set(serial)
        if(ARG_SERIAL)
            set(serial SERIAL)
        endif()
        clipvane_add_test_run(${ARG_NAME} COMMAND ${target} ${ARG_ARGS} XVFB ${serial} TIMEOUT ${ARG_TIMEOUT})
    else()
        set(properties TIMEOUT ${ARG_TIMEOUT})
        if(ARG_SERIAL)
            list(APPEND properties RUN_SERIAL TRUE)
        endif()
        gtest_discover_tests(${target} TEST_PREFIX "${ARG_PREFIX}" DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
    endif()
endfunction()

function(clipvane_add_benchmark target)
    _clipvane_test_program(${target} ${ARGN})
endfunction()

set(CLIPVANE_TESTSUPPORT_PAGES "${CMAKE_CURRENT_LIST_DIR}/../testsupport/pages")

function(clipvane_add_pages_library target)
    cmake_parse_arguments(ARG "" "" "FILES" ${ARGN})
    add_library(${target} SHARED "${CLIPVANE_TESTSUPPORT_PAGES}/probeserver.cpp")
    target_link_libraries(${target} PRIVATE tavrelo_automation Qt6::Core)
    set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
    clipvane_strict_target(${target})
    # The type library and the registrar script are found by number: TYPELIB 1, REGISTRY 101.
    set(resources "${CMAKE_CURRENT_BINARY_DIR}/${target}-resources")
    configure_file("${CLIPVANE_TESTSUPPORT_PAGES}/probe.tlb.json" "${resources}/typelib/1" COPYONLY)
    configure_file("${CLIPVANE_TESTSUPPORT_PAGES}/probe.rgs" "${resources}/registry/101" COPYONLY)
    clipvane_embed_resources(${target} TYPE TYPELIB FILES "${resources}/typelib/1")
    clipvane_embed_resources(${target} TYPE REGISTRY FILES "${resources}/registry/101")
    clipvane_embed_resources(${target} TYPE HTML FILES "${CLIPVANE_TESTSUPPORT_PAGES}/pagetest.js" ${ARG_FILES})
endfunction()

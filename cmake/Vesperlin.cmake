# Helpers shared by every folder's CMakeLists.txt.

# vesperlin_library(NAME SOURCES ... [PUBLIC_LIBS ...] [LIBS ...]): a static library of our own
# code, warnings on. PUBLIC_LIBS are what its headers need, so its users get them too; LIBS are
# what only its sources use. Every library names headers from src/ ("layer/file.h");
# scripts/check-includes.sh keeps a layer from naming one above its own.
function(vesperlin_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;LIBS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_compile_options(${name} PRIVATE ${VESPERLIN_WARNINGS})
    if(ARG_PUBLIC_LIBS)
        target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS})
    endif()
    if(ARG_LIBS)
        target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    endif()
endfunction()

# vesperlin_embed_manifest(TARGET): the application manifest (UTF-8 code page, long paths,
# DPI awareness, common controls 6). Test executables get it too, so that they see the
# same 8-bit code page as the programs they test.
function(vesperlin_embed_manifest target)
    if(WIN32)
        target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/res/manifest.rc)
    endif()
endfunction()

# vesperlin_add_gtest(NAME SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s] [FILTER expr]): one
# GoogleTest executable whose cases CTest lists one by one (those FILTER, a --gtest_filter
# expression, admits; cases left out run as tests of their own). On Windows it runs under Wine
# through the emulator wrapper; discovery happens when the tests run, never during the build.
function(vesperlin_add_gtest name)
    cmake_parse_arguments(ARG "" "TIMEOUT;FILTER" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    target_compile_options(${name} PRIVATE ${VESPERLIN_WARNINGS})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
    vesperlin_embed_manifest(${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 30)
    endif()
    if(NOT ARG_FILTER)
        set(ARG_FILTER "*")
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 120
        TEST_FILTER ${ARG_FILTER}
        TEST_LIST ${name}_TESTS)
    vesperlin_test_properties(${name} "${ARG_LABELS}" ${ARG_TIMEOUT})
endfunction()

# vesperlin_test_properties(NAME LABELS TIMEOUT): labels (plus "wine" or "native"), the time-out
# and the environment fixture for every case that discovery finds in executable NAME. The
# time-out is also given to the test as VESPERLIN_TEST_TIMEOUT: the Wine wrapper dumps a program
# that is about to overrun it.
# Discovery splits list values passed through its PROPERTIES, so the properties are set by a
# script of our own that CTest reads after the discovered cases (scripts/check-tests.sh checks
# what was registered).
function(vesperlin_test_properties name labels timeout)
    if(WIN32)
        list(APPEND labels wine)
    else()
        list(APPEND labels native)
    endif()
    # One desktop has one foreground window and one keyboard focus: tests that show windows
    # (and press keys) take turns, while the others run beside them.
    set(lock "")
    if("gui" IN_LIST labels)
        set(lock "RESOURCE_LOCK vesperlin_desktop")
    endif()
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake)
    file(WRITE ${script}
        "if(${name}_TESTS)\n"
        "    set_tests_properties(\${${name}_TESTS} PROPERTIES\n"
        "        LABELS \"${labels}\" TIMEOUT ${timeout} FIXTURES_REQUIRED vesperlin_env ${lock}\n"
        "        ENVIRONMENT_MODIFICATION VESPERLIN_TEST_TIMEOUT=set:${timeout})\n"
        "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()

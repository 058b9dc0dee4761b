# One INTERFACE target carries the language standard, the warnings and the sanitizer options, so every
# library, program and test of the project is built the same way.
add_library(ferrylantern_common INTERFACE)
target_compile_features(ferrylantern_common INTERFACE cxx_std_20)
# src/ is the one include root: every project header is named with its layer ("server/RequestHead.h").
target_include_directories(ferrylantern_common INTERFACE ${PROJECT_SOURCE_DIR}/src)
set(CMAKE_CXX_EXTENSIONS OFF)

target_compile_options(ferrylantern_common INTERFACE
    -Wall -Wextra -Wpedantic
    -Wshadow -Wnon-virtual-dtor -Wcast-align -Woverloaded-virtual
    # clang checks the lock annotations of src/server/ThreadAnnotations.h; a violation is an error.
    $<$<CXX_COMPILER_ID:Clang>:-Wthread-safety -Werror=thread-safety>)

if(FERRYLANTERN_SANITIZE)
    set(sanitize_flags -fsanitize=${FERRYLANTERN_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_compile_options(ferrylantern_common INTERFACE ${sanitize_flags})
    target_link_options(ferrylantern_common INTERFACE ${sanitize_flags})
endif()

if(FERRYLANTERN_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "FERRYLANTERN_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
    endif()
    # Coverage feedback for libFuzzer in every library; only the fuzz executables link libFuzzer itself.
    target_compile_options(ferrylantern_common INTERFACE -fsanitize=fuzzer-no-link)
endif()

# ferrylantern_add_tests(<target> LABEL <label> [TIMEOUT <s>] [RESOURCE_LOCK <name>] [ENVIRONMENT <vars>...])
# Registers every GoogleTest case of <target> with CTest under the subsystem label, so that
# `ctest -L <label>` runs one subsystem alone. Tests that share a RESOURCE_LOCK never run at once.
function(ferrylantern_add_tests target)
    cmake_parse_arguments(ARG "" "LABEL;TIMEOUT;RESOURCE_LOCK" "ENVIRONMENT" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    # CMake 3.25 splits list-valued test properties, so the environment travels on the command line:
    # every test (and the discovery run) starts as `env NAME=value … test-binary`.
    if(ARG_ENVIRONMENT)
        set_property(TARGET ${target} PROPERTY CROSSCOMPILING_EMULATOR /usr/bin/env ${ARG_ENVIRONMENT})
    endif()
    set(lock)
    if(ARG_RESOURCE_LOCK)
        set(lock RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
    endif()
    gtest_discover_tests(${target}
        DISCOVERY_TIMEOUT 60
        PROPERTIES
            LABELS "${ARG_LABEL}"
            TIMEOUT ${ARG_TIMEOUT}
            ${lock})
endfunction()

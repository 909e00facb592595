# Library benchmarks: base32, parse_decimal and the pointer list, each
# against a peer that does the same job.
#
#   cmake --preset bench && cmake --build --preset bench
#   build/bench/bench/library_bench --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
add_executable(library_bench base32_bench.cpp convert_bench.cpp plist_bench.cpp)
target_link_libraries(library_bench PRIVATE corvane::util benchmark::benchmark_main)
# The straightforward base32 codec, which the tests also hold the library to.
target_include_directories(library_bench PRIVATE "${PROJECT_SOURCE_DIR}/reference")
corvane_warnings(library_bench)

# libbaseencode is an optional peer for base32: without it those cases are
# left out.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
    pkg_check_modules(BASEENCODE QUIET IMPORTED_TARGET baseencode)
endif()
if(TARGET PkgConfig::BASEENCODE)
    target_link_libraries(library_bench PRIVATE PkgConfig::BASEENCODE)
    target_compile_definitions(library_bench PRIVATE CORVANE_HAVE_BASEENCODE=1)
else()
    find_path(BASEENCODE_INCLUDE_DIR baseencode.h)
    find_library(BASEENCODE_LIBRARY baseencode)
    if(BASEENCODE_INCLUDE_DIR AND BASEENCODE_LIBRARY)
        target_include_directories(library_bench SYSTEM PRIVATE "${BASEENCODE_INCLUDE_DIR}")
        target_link_libraries(library_bench PRIVATE "${BASEENCODE_LIBRARY}")
        target_compile_definitions(library_bench PRIVATE CORVANE_HAVE_BASEENCODE=1)
    else()
        message(STATUS "libbaseencode not found: base32 is measured without that peer")
    endif()
endif()

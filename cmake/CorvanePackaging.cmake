# Debian packages (`cpack -G DEB` in a build dir), from the Debian layout of
# the install rules (CorvaneInstall.cmake), which a plain install leaves out:
#   corvane-userdb    the tool, its man page (compressed), its bash completion
#   corvane-util-dev  headers, static library, CMake package, .pc, all in the
#                     multiarch library directory
# each with the copyright file and changelog Debian asks for.
# packaging/check-deb.sh builds both, tries them out and runs lintian.

set(CPACK_PACKAGE_VENDOR "corvane")
set(CPACK_PACKAGE_CONTACT "corvane developers <dev@corvane.invalid>")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_RPM_PACKAGE_LICENSE "BSD-2-Clause")
set(CPACK_FREEBSD_PACKAGE_LICENSE "BSD2CLAUSE")
# Each package carries its own one-line summary (below); an empty project
# summary keeps CPack from putting the same line in front of both.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

# What GNUInstallDirs picks for the prefix /usr on Debian: the multiarch
# directory, where pkg-config and CMake look for a target architecture.
if(CMAKE_LIBRARY_ARCHITECTURE)
    set(CORVANE_DEBIAN_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}")
else()
    set(CORVANE_DEBIAN_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
endif()
set(CPACK_DEBIAN_DEBIAN_RUNTIME_PACKAGE_NAME corvane-userdb)
set(CPACK_DEBIAN_DEBIAN_DEVELOPMENT_PACKAGE_NAME corvane-util-dev)

find_program(CORVANE_GZIP gzip)
mark_as_advanced(CORVANE_GZIP)
if(NOT CORVANE_GZIP OR NOT CMAKE_OBJCOPY)
    message(STATUS "Debian packages: not available here (they need gzip and objcopy)")
    include(CPack)
    return()
endif()

# The files Debian asks for, written when configuring (again when the man
# page or the licence changes); gzip -n keeps name and time out of the file.
set(debian_files "${PROJECT_BINARY_DIR}/debian")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    "${PROJECT_SOURCE_DIR}/LICENSE" "${PROJECT_SOURCE_DIR}/packaging/corvane-userdb.1")
function(corvane_gzip source target)
    execute_process(COMMAND "${CORVANE_GZIP}" -9 -n -c "${source}" OUTPUT_FILE "${target}"
        COMMAND_ERROR_IS_FATAL ANY)
endfunction()
file(MAKE_DIRECTORY "${debian_files}")
corvane_gzip("${PROJECT_SOURCE_DIR}/packaging/corvane-userdb.1" "${debian_files}/corvane-userdb.1.gz")

# copyright, machine-readable, from LICENSE: its holder line and its terms.
file(READ "${PROJECT_SOURCE_DIR}/LICENSE" license)
if(NOT license MATCHES "Copyright \\(c\\) ([0-9-]+), ([^\n]+)\n\n(Redistribution.*)$")
    message(FATAL_ERROR "LICENSE: no \"Copyright (c) YEAR, HOLDER\" line followed by the terms")
endif()
set(holder "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}")
string(STRIP "${CMAKE_MATCH_3}" terms)
string(REPLACE "\n\n" "\n.\n" terms "${terms}")
string(REPLACE "\n" "\n " terms "${terms}")
file(WRITE "${debian_files}/copyright"
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${PROJECT_NAME}
Upstream-Contact: ${CPACK_PACKAGE_CONTACT}

Files: *
Copyright: ${holder}
License: BSD-2-clause
 ${terms}
")

# changelog of this native package: one entry, for this version, dated now
# (or by SOURCE_DATE_EPOCH, for a reproducible package).
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${debian_files}/changelog"
"${PROJECT_NAME} (${PROJECT_VERSION}) unstable; urgency=medium

  * Version ${PROJECT_VERSION}.

 -- ${CPACK_PACKAGE_CONTACT}  ${date}
")
corvane_gzip("${debian_files}/changelog" "${debian_files}/changelog.gz")

corvane_install_layout(Debian debian_runtime debian_development "${CORVANE_DEBIAN_LIBDIR}"
    "${debian_files}/corvane-userdb.1.gz" DEBIAN)
set(CPACK_COMPONENTS_ALL debian_development)
if(TARGET corvane-userdb)
    list(PREPEND CPACK_COMPONENTS_ALL debian_runtime)
endif()
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
    string(TOUPPER "${component}" package)
    install(FILES "${debian_files}/copyright" "${debian_files}/changelog.gz"
        DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${package}_PACKAGE_NAME}"
        COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SOURCE "${PROJECT_NAME}")

set(CPACK_DEBIAN_DEBIAN_RUNTIME_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_DEBIAN_RUNTIME_DESCRIPTION
    "administration tool for a SQLite user account database
corvane-userdb keeps user accounts (nickname, password and one of eight
credential classes) in one SQLite file: it creates the users table, lists
the accounts, adds, deletes and changes them. Passwords are stored in plain
text; the tool creates the file readable by its owner only.")
# The tool needs SQLite CORVANE_SQLITE_MINIMUM, which the symbols SQLite's
# package declares cannot tell (the interfaces that set it are flags and
# constants). With dpkg-shlibdeps (package dpkg-dev), cpack reads the
# libraries' exact versions from the tool with that override
# (CorvaneCPackOptions.cmake.in); without it they are named directly: the
# C++ runtime only when it is not built into the tool
# (CORVANE_STATIC_CXX_RUNTIME, see tool/CMakeLists.txt).
find_program(CORVANE_DPKG_SHLIBDEPS dpkg-shlibdeps)
mark_as_advanced(CORVANE_DPKG_SHLIBDEPS)
if(TARGET corvane-userdb)
    get_target_property(corvane_tool_link_options corvane-userdb LINK_OPTIONS)
    if("-static-libstdc++" IN_LIST corvane_tool_link_options)
        set(CPACK_DEBIAN_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libc6, libsqlite3-0 (>= ${CORVANE_SQLITE_MINIMUM})")
    else()
        set(CPACK_DEBIAN_DEBIAN_RUNTIME_PACKAGE_DEPENDS
            "libc6, libsqlite3-0 (>= ${CORVANE_SQLITE_MINIMUM}), libstdc++6, libgcc-s1")
    endif()
    if(CORVANE_DPKG_SHLIBDEPS)
        configure_file(cmake/CorvaneCPackOptions.cmake.in "${PROJECT_BINARY_DIR}/CorvaneCPackOptions.cmake.in" @ONLY)
        file(GENERATE OUTPUT "${PROJECT_BINARY_DIR}/CorvaneCPackOptions.cmake"
            INPUT "${PROJECT_BINARY_DIR}/CorvaneCPackOptions.cmake.in")
        set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_BINARY_DIR}/CorvaneCPackOptions.cmake")
    endif()
endif()

set(CPACK_DEBIAN_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEBIAN_DEVELOPMENT_DESCRIPTION
    "corvane utility library (static library and headers)
corvane::util is a small C++ library: UTF-8 validation and character
classes, logging, a doubly linked pointer list, text trimming, splitting
and line reading, value conversions and a base32 codec. This package holds
the headers, the static library, a CMake package (find_package(corvane))
and a pkg-config file (corvane-util).")

include(CPack)

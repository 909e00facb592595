# Debian packages, one per install component (`cpack -G DEB` in a build dir):
#   corvane-userdb    the tool, its man page and its bash completion (runtime)
#   corvane-util-dev  headers, static library, CMake package, .pc (development)
# packaging/check-deb.sh builds both and tries them out.

set(CPACK_PACKAGE_VENDOR "corvane")
set(CPACK_PACKAGE_CONTACT "corvane developers <dev@corvane.invalid>")
# Each package carries its own one-line summary (below); an empty project
# summary keeps CPack from putting the same line in front of both.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_COMPONENTS_ALL runtime development)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME corvane-userdb)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
    "administration tool for a SQLite user account database
corvane-userdb keeps user accounts (nickname, password and one of eight
credential classes) in one SQLite file: it creates the users table, lists
the accounts, adds, deletes and changes them. Passwords are stored in plain
text; the tool creates the file readable by its owner only.")
# dpkg-shlibdeps (package dpkg-dev) derives the exact library versions from
# the binary; without it the libraries the tool links are named directly:
# the C++ runtime only when it is not built into the tool
# (CORVANE_STATIC_CXX_RUNTIME, see tool/CMakeLists.txt).
find_program(CORVANE_DPKG_SHLIBDEPS dpkg-shlibdeps)
mark_as_advanced(CORVANE_DPKG_SHLIBDEPS)
if(CORVANE_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
elseif(TARGET corvane-userdb)
    get_target_property(corvane_tool_link_options corvane-userdb LINK_OPTIONS)
    if("-static-libstdc++" IN_LIST corvane_tool_link_options)
        set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libc6, libsqlite3-0")
    else()
        set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libc6, libsqlite3-0, libstdc++6, libgcc-s1")
    endif()
endif()

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME corvane-util-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
    "corvane utility library (static library and headers)
corvane::util is a small C++ library: UTF-8 validation and character
classes, logging, a doubly linked pointer list, text trimming, splitting
and line reading, value conversions and a base32 codec. This package holds
the headers, the static library, a CMake package (find_package(corvane))
and a pkg-config file (corvane-util).")

include(CPack)

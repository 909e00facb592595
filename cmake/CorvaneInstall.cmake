# Installs the tool, the library with its headers, a CMake package
# (find_package(corvane CONFIG) gives corvane::util) and a pkg-config file.
include(CMakePackageConfigHelpers)

set(CORVANE_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/corvane")

if(TARGET corvane-userdb)
    install(TARGETS corvane-userdb RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT runtime)
    install(FILES packaging/corvane-userdb.1
        DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT runtime)
    # Relative to the prefix, where bash-completion looks for it under
    # XDG_DATA_DIRS; never the system's absolute directory.
    install(FILES packaging/corvane-userdb.bash-completion
        DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions"
        RENAME corvane-userdb COMPONENT runtime)
endif()

# The include directory reaches consumers through the target's
# INSTALL_INTERFACE; naming it here again would list it twice.
install(TARGETS corvane_util EXPORT corvaneTargets
    ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT development)
install(DIRECTORY util/include/corvane
    DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}" COMPONENT development
    FILES_MATCHING PATTERN "*.hpp")
install(EXPORT corvaneTargets
    NAMESPACE corvane::
    DESTINATION "${CORVANE_CMAKE_DIR}" COMPONENT development)

configure_package_config_file(packaging/corvaneConfig.cmake.in
    "${PROJECT_BINARY_DIR}/corvaneConfig.cmake"
    INSTALL_DESTINATION "${CORVANE_CMAKE_DIR}")
write_basic_package_version_file("${PROJECT_BINARY_DIR}/corvaneConfigVersion.cmake"
    COMPATIBILITY SameMajorVersion)
install(FILES
    "${PROJECT_BINARY_DIR}/corvaneConfig.cmake"
    "${PROJECT_BINARY_DIR}/corvaneConfigVersion.cmake"
    DESTINATION "${CORVANE_CMAKE_DIR}" COMPONENT development)

# The .pc file is written at install time, so that it names the prefix of
# that install (the script says how).
configure_file(cmake/CorvaneWritePkgConfig.cmake.in
    "${PROJECT_BINARY_DIR}/CorvaneWritePkgConfig.cmake" @ONLY)
install(SCRIPT "${PROJECT_BINARY_DIR}/CorvaneWritePkgConfig.cmake" COMPONENT development)

# Installs the tool, the library with its headers, a CMake package
# (find_package(corvane CONFIG) gives corvane::util) and a pkg-config file.
include(CMakePackageConfigHelpers)

# corvane_install_layout(NAME RUNTIME DEVELOPMENT LIBDIR MAN_PAGE [DEBIAN]):
# the install rules of one layout, the tool in component RUNTIME and the
# library in DEVELOPMENT, libraries, the CMake package and the .pc in LIBDIR.
# With DEBIAN the components are left out of a plain `cmake --install` (CPack
# installs them by name), and the installed tool and library lose their
# .comment sections (compiler versions), as Debian's own packages do.
function(corvane_install_layout name runtime development libdir man_page)
    cmake_parse_arguments(PARSE_ARGV 5 layout "DEBIAN" "" "")
    set(only_by_name)
    if(layout_DEBIAN)
        set(only_by_name EXCLUDE_FROM_ALL)
    endif()
    set(cmake_dir "${libdir}/cmake/corvane")

    if(TARGET corvane-userdb)
        install(TARGETS corvane-userdb RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}"
            COMPONENT ${runtime} ${only_by_name})
        install(FILES "${man_page}"
            DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT ${runtime} ${only_by_name})
        # Relative to the prefix, where bash-completion looks for it under
        # XDG_DATA_DIRS; never the system's absolute directory.
        install(FILES packaging/corvane-userdb.bash-completion
            DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions"
            RENAME corvane-userdb COMPONENT ${runtime} ${only_by_name})
        if(layout_DEBIAN)
            install(CODE "execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/corvane-userdb\"
                COMMAND_ERROR_IS_FATAL ANY)" COMPONENT ${runtime} ${only_by_name})
        endif()
    endif()

    # The include directory reaches consumers through the target's
    # INSTALL_INTERFACE; naming it here again would list it twice.
    install(TARGETS corvane_util EXPORT corvane${name}Targets
        ARCHIVE DESTINATION "${libdir}" COMPONENT ${development} ${only_by_name})
    if(layout_DEBIAN)
        install(CODE "execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
            --enable-deterministic-archives
            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${libdir}/$<TARGET_FILE_NAME:corvane_util>\"
            COMMAND_ERROR_IS_FATAL ANY)" COMPONENT ${development} ${only_by_name})
    endif()
    install(DIRECTORY util/include/corvane
        DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}" COMPONENT ${development} ${only_by_name}
        FILES_MATCHING PATTERN "*.hpp")
    install(EXPORT corvane${name}Targets
        FILE corvaneTargets.cmake
        NAMESPACE corvane::
        DESTINATION "${cmake_dir}" COMPONENT ${development} ${only_by_name})

    set(staging "${PROJECT_BINARY_DIR}/install-${name}")
    configure_package_config_file(packaging/corvaneConfig.cmake.in
        "${staging}/corvaneConfig.cmake"
        INSTALL_DESTINATION "${cmake_dir}")
    write_basic_package_version_file("${staging}/corvaneConfigVersion.cmake"
        COMPATIBILITY SameMajorVersion)
    install(FILES "${staging}/corvaneConfig.cmake" "${staging}/corvaneConfigVersion.cmake"
        DESTINATION "${cmake_dir}" COMPONENT ${development} ${only_by_name})

    # The .pc file is written at install time, so that it names the prefix of
    # that install (the script says how).
    set(CORVANE_PC_LIBDIR "${libdir}")
    set(CORVANE_PC_STAGING "${staging}")
    configure_file(cmake/CorvaneWritePkgConfig.cmake.in "${staging}/CorvaneWritePkgConfig.cmake" @ONLY)
    install(SCRIPT "${staging}/CorvaneWritePkgConfig.cmake" COMPONENT ${development} ${only_by_name})
endfunction()

corvane_install_layout(Plain runtime development "${CMAKE_INSTALL_LIBDIR}" packaging/corvane-userdb.1)

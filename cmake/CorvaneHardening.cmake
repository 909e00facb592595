# With CORVANE_HARDENING (on in the release, install-only and bench presets),
# corvane_harden(TARGET) builds what is installed the way Debian builds its
# packages: the stack protector for functions with arrays or addresses of
# locals, _FORTIFY_SOURCE=2 (checked copies and formats where the compiler
# knows the buffer size; it needs optimisation, so Debug builds go without),
# and for executables a position-independent executable with full RELRO:
# relocations done at start-up, then the tables made read-only. Only the
# tool and the library are hardened: the floor programs of bench/ stay
# plain, so the instruction check measures what the hardening costs.
if(CORVANE_HARDENING)
    include(CheckCXXCompilerFlag)
    include(CheckLinkerFlag)
    include(CheckPIESupported)
    check_pie_supported(LANGUAGES CXX)
    check_cxx_compiler_flag(-fstack-protector-strong CORVANE_HAVE_STACK_PROTECTOR_STRONG)
    check_linker_flag(CXX "LINKER:-z,relro,-z,now" CORVANE_HAVE_BIND_NOW)
    foreach(check CMAKE_CXX_LINK_PIE_SUPPORTED CORVANE_HAVE_STACK_PROTECTOR_STRONG CORVANE_HAVE_BIND_NOW)
        if(NOT ${check})
            message(FATAL_ERROR "CORVANE_HARDENING: the compiler or linker lacks a hardening flag (${check}); "
                                "configure with -DCORVANE_HARDENING=OFF to build without")
        endif()
    endforeach()
endif()

function(corvane_harden target)
    if(NOT CORVANE_HARDENING)
        return()
    endif()
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    # -U first: some compilers define _FORTIFY_SOURCE themselves.
    target_compile_options(${target} PRIVATE -fstack-protector-strong
        "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
        target_link_options(${target} PRIVATE "LINKER:-z,relro,-z,now")
    endif()
endfunction()

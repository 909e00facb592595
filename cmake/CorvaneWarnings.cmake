# Warnings every target of the project is built with; errors when
# CORVANE_WERROR is on (the presets turn it on).
function(corvane_warnings target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
        -Wformat=2 -Wundef -Wcast-qual -Wnull-dereference
        $<$<BOOL:${CORVANE_WERROR}>:-Werror>)
endfunction()

# Runs the tool on a fresh demo database and shows each command with what it
# printed. Invoked by the `demo` target:
#   cmake -DTOOL=<corvane-userdb> -DDATABASE=<file> -P demo.cmake
file(REMOVE "${DATABASE}")

function(demo_run)
    string(JOIN " " shown ${ARGN})
    message("$ corvane-userdb ${DATABASE} ${shown}")
    execute_process(COMMAND "${TOOL}" "${DATABASE}" ${ARGN} RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "corvane-userdb ${shown} failed with status ${status}")
    endif()
endfunction()

demo_run(create)
demo_run(add alice wonderland admin)
demo_run(add bob hunter2)
demo_run(add carol s3cret op)
demo_run(mod bob super)
demo_run(list)

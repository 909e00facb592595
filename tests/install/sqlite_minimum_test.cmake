# Configures the project against a sqlite3.h of the release before MINIMUM
# and expects the configure to stop with a message naming both versions;
# then checks that the README and the man page name MINIMUM too.
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -DMINIMUM=3.31.0 -DCXX=... -P sqlite_minimum_test.cmake
string(REPLACE "." ";" parts "${MINIMUM}")
list(GET parts 1 minor)
math(EXPR minor "${minor} - 1")
set(older "3.${minor}.0")
math(EXPR older_number "3000000 + ${minor} * 1000")

file(REMOVE_RECURSE "${WORK_DIR}")
file(WRITE "${WORK_DIR}/include/sqlite3.h"
    "#define SQLITE_VERSION        \"${older}\"\n#define SQLITE_VERSION_NUMBER ${older_number}\n")
execute_process(
    COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${WORK_DIR}/build" -DBUILD_TESTING=OFF
            "-DCMAKE_CXX_COMPILER=${CXX}" "-DSQLite3_INCLUDE_DIR=${WORK_DIR}/include"
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
string(REGEX REPLACE "[ \n]+" " " output "${output}")
if(status EQUAL 0)
    message(FATAL_ERROR "configuring against SQLite ${older} succeeded")
endif()
if(NOT output MATCHES "SQLite ${older} found .* needs SQLite ${MINIMUM} or later")
    message(FATAL_ERROR "configuring against SQLite ${older} failed without the message:\n${output}")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")

foreach(document README.md packaging/corvane-userdb.1)
    file(READ "${SOURCE_DIR}/${document}" text)
    string(FIND "${text}" "SQLite ${MINIMUM} or later" found)
    if(found LESS 0)
        message(FATAL_ERROR "${document} does not say \"SQLite ${MINIMUM} or later\"")
    endif()
endforeach()

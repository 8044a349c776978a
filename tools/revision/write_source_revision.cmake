# Writes OUTPUT, a C++ source defining VORNAK_SOURCE_REVISION: REVISION when given
# (a packager building from a tarball), else `git describe` of SOURCE_DIR, else
# "unknown". Run at every build; the file is rewritten only when the text changes,
# so an unchanged revision rebuilds nothing.
if(NOT REVISION)
    set(REVISION unknown)
    find_program(GIT_EXECUTABLE git)
    if(GIT_EXECUTABLE)
        execute_process(
            COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} describe --always --dirty --tags
            OUTPUT_VARIABLE described OUTPUT_STRIP_TRAILING_WHITESPACE
            RESULT_VARIABLE failed ERROR_QUIET)
        if(NOT failed AND described MATCHES "^[A-Za-z0-9._+-]+$")
            set(REVISION ${described})
        endif()
    endif()
endif()
set(text "// Written by tools/revision/write_source_revision.cmake.\n")
string(APPEND text "extern const char VORNAK_SOURCE_REVISION[];\n")
string(APPEND text "const char VORNAK_SOURCE_REVISION[] = \"${REVISION}\";\n")
if(EXISTS ${OUTPUT})
    file(READ ${OUTPUT} previous)
endif()
if(NOT previous STREQUAL text)
    file(WRITE ${OUTPUT} "${text}")
endif()

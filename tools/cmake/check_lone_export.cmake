# Fails unless the code in the objects OBJECTS has external linkage only in
# functions whose names contain EXPORT (read with nm NM). Shared data, such as
# the type descriptions a sanitizer build emits, holds no instructions.
#   cmake -DNM=nm -DOBJECTS="a.o;b.o" -DEXPORT=name -P check_lone_export.cmake
foreach(object ${OBJECTS})
    execute_process(COMMAND ${NM} --defined-only --extern-only ${object}
        OUTPUT_VARIABLE listing RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${NM} could not read ${object}")
    endif()
    string(REPLACE "\n" ";" lines "${listing}")
    foreach(line ${lines})
        # "address type name": T and W are code, i an indirect function.
        if(line MATCHES "^[0-9a-fA-F]* [TWi] " AND NOT line MATCHES "${EXPORT}")
            message(FATAL_ERROR "${object} exports code other than ${EXPORT}: ${line}")
        endif()
    endforeach()
endforeach()

# Makes the objects OBJECTS keep their code to themselves: every code symbol
# with external linkage other than the entry points (names matching EXPORT)
# is renamed with the prefix avx2_ (objcopy OBJCOPY; read with nm NM). Such a
# symbol is an inline function the compiler left out of line; under its own
# name the linker would keep one copy for all callers, and the copy could be
# this object's AVX2 code called from baseline code. Fails where that cannot
# be done: no objcopy, or a virtual table, whose copy would be shared too.
#   cmake -DNM=nm -DOBJCOPY=objcopy -DOBJECTS="a.o;b.o" -DEXPORT=regex -P keep_code_local.cmake
foreach(object ${OBJECTS})
    execute_process(COMMAND ${NM} --defined-only --extern-only ${object}
        OUTPUT_VARIABLE listing RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${NM} could not read ${object}")
    endif()
    string(REPLACE "\n" ";" lines "${listing}")
    set(renames "")
    foreach(line ${lines})
        # "address type name": T and W are code, i an indirect function.
        if(line MATCHES "^[0-9a-fA-F]* [TWi] (.*)$")
            set(name ${CMAKE_MATCH_1})
            if(NOT name MATCHES "${EXPORT}" AND NOT name MATCHES "^_?avx2_")
                list(APPEND renames --redefine-sym ${name}=avx2_${name})
            endif()
        elseif(line MATCHES " _?_ZTV")
            message(FATAL_ERROR "${object} defines a virtual table: ${line}")
        endif()
    endforeach()
    # A constructor or destructor left out of line sits in a COMDAT group
    # named by a local symbol of its own (C5 or D5): under the name the
    # baseline object's group shares, the linker would keep one of the two
    # groups and drop the other's definitions.
    execute_process(COMMAND ${NM} --defined-only ${object} OUTPUT_VARIABLE listing)
    string(REPLACE "\n" ";" lines "${listing}")
    foreach(line ${lines})
        if(line MATCHES "^[0-9a-fA-F]* n (_?_Z[^ ]*[CD]5E[^ ]*)$")
            list(APPEND renames --redefine-sym ${CMAKE_MATCH_1}=avx2_${CMAKE_MATCH_1})
        endif()
    endforeach()
    if(renames)
        if(NOT OBJCOPY)
            message(FATAL_ERROR "${object} has shared inline code and there is no objcopy "
                                "to rename it: ${renames}")
        endif()
        execute_process(COMMAND ${OBJCOPY} ${renames} ${object} RESULT_VARIABLE status)
        if(NOT status EQUAL 0)
            message(FATAL_ERROR "${OBJCOPY} could not rename the shared code of ${object}")
        endif()
    endif()
endforeach()

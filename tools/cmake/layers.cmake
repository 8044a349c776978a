# One library per layer folder. A layer sees only its own folder and the folders of
# the layers below it: its include path is a directory of links to exactly those
# folders, so an include that runs upward fails to compile ("No such file or
# directory"), and its library links only the layers below.
#
#   vornak_add_layer(<folder> [SOURCES <file>...] [LAYERS <lower folder>...] [LIBRARIES <lib>...])
#
# Without SOURCES every .cpp of the folder is compiled.
function(vornak_add_layer folder)
    cmake_parse_arguments(LAYER "" "" "SOURCES;LAYERS;LIBRARIES" ${ARGN})
    if(NOT LAYER_SOURCES)
        file(GLOB LAYER_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
    endif()
    set(visible ${folder})
    foreach(lower ${LAYER_LAYERS})
        get_property(lower_visible GLOBAL PROPERTY VORNAK_LAYER_VISIBLE_${lower})
        if(NOT DEFINED lower_visible OR lower_visible STREQUAL "")
            message(FATAL_ERROR "layer ${folder} names ${lower}, which is not a layer below it")
        endif()
        list(APPEND visible ${lower_visible})
    endforeach()
    list(REMOVE_DUPLICATES visible)
    set_property(GLOBAL PROPERTY VORNAK_LAYER_VISIBLE_${folder} ${visible})
    set_property(GLOBAL APPEND PROPERTY VORNAK_LAYERS ${folder})

    set(view ${CMAKE_BINARY_DIR}/layers/${folder})
    file(REMOVE_RECURSE ${view})
    file(MAKE_DIRECTORY ${view})
    foreach(name ${visible})
        file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${name} ${view}/${name} SYMBOLIC)
    endforeach()

    set(target vornak_${folder})
    add_library(${target} STATIC ${LAYER_SOURCES})
    target_include_directories(${target} PUBLIC ${view})
    target_link_libraries(${target} PUBLIC vornak_options)
    foreach(lower ${LAYER_LAYERS})
        target_link_libraries(${target} PUBLIC vornak_${lower})
    endforeach()
    if(LAYER_LIBRARIES)
        target_link_libraries(${target} PUBLIC ${LAYER_LIBRARIES})
    endif()
endfunction()

# Writes what each layer may include, for the check that also catches includes
# the compiler would find anyway (relative paths that climb out of a folder).
function(vornak_write_layer_map)
    get_property(layers GLOBAL PROPERTY VORNAK_LAYERS)
    set(text "")
    foreach(folder ${layers})
        get_property(visible GLOBAL PROPERTY VORNAK_LAYER_VISIBLE_${folder})
        string(APPEND text "${folder}=${visible}\n")
    endforeach()
    file(WRITE ${CMAKE_BINARY_DIR}/layers/map.txt "${text}")
endfunction()

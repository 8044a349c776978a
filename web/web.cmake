# The show for browsers: the layers compiled with emcc into dist/web/vornak.js and
# vornak.wasm, driven by the page's timers through the program layer's FrameLoop.
# The asset generators run natively: VORNAK_NATIVE_BUILD_DIR is a native build
# whose generated/ sources (fonts, images, caption sheets) are compiled here.
set(VORNAK_NATIVE_BUILD_DIR ${CMAKE_SOURCE_DIR}/build CACHE PATH "native build with the generated assets")
set(VORNAK_WEB_OUTPUT_DIR ${CMAKE_SOURCE_DIR}/dist/web CACHE PATH "where the page is assembled")
file(GLOB VORNAK_GENERATED_SOURCES CONFIGURE_DEPENDS ${VORNAK_NATIVE_BUILD_DIR}/generated/*.cpp)
if(NOT VORNAK_GENERATED_SOURCES)
    message(FATAL_ERROR "no generated assets in ${VORNAK_NATIVE_BUILD_DIR}/generated: build natively first")
endif()

# WebAssembly SIMD for the renderer's SSE2 paths (emscripten maps the intrinsics).
add_compile_options(-msimd128 -msse2)
# Without the renderer's walks with the span loops compiled in: they would add
# half a megabyte to the download for a speed the page does not need.
add_compile_definitions(VORNAK_INLINE_WALKS=0)

include(tools/cmake/layers.cmake)
vornak_add_layer(data SOURCES ${VORNAK_GENERATED_SOURCES})
add_subdirectory(image)
# Only the portable platform pieces: the page is the console, the clock and the
# sound output; no PNG files are written (libpng is left out).
vornak_add_layer(platform
    SOURCES ${CMAKE_SOURCE_DIR}/platform/headless_console.cpp ${CMAKE_SOURCE_DIR}/platform/virtual_clock.cpp
    LAYERS image)
add_subdirectory(render)
add_subdirectory(textmode)
add_subdirectory(scenekit)
add_subdirectory(scenes)
add_subdirectory(show)
vornak_add_layer(program
    SOURCES ${CMAKE_SOURCE_DIR}/program/frame_loop.cpp ${CMAKE_SOURCE_DIR}/program/console_output.cpp
            ${CMAKE_SOURCE_DIR}/program/offline_run.cpp ${CMAKE_SOURCE_DIR}/program/player.cpp
    LAYERS show textmode platform)

# The web host on top: the page's console, clock and sound and the entry points
# the page calls. It sits above every layer, like the program's own entry.
add_executable(vornak_web
    ${CMAKE_SOURCE_DIR}/web/web_host.cpp ${CMAKE_SOURCE_DIR}/web/web_console.cpp)
target_include_directories(vornak_web PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(vornak_web PRIVATE vornak_program)
set(VORNAK_WEB_EXPORTS
    _vornak_web_begin _vornak_web_announce _vornak_web_keep_snapshots _vornak_web_sleep _vornak_web_frame
    _vornak_web_key _vornak_web_draw _vornak_web_drawn_rect _vornak_web_cells
    _vornak_web_cells_version _vornak_web_font _vornak_web_palette _vornak_web_demo_time
    _vornak_web_seek _vornak_web_paused _vornak_web_set_volume
    _vornak_web_volume _vornak_web_muted _vornak_web_length _vornak_web_scene_count
    _vornak_web_scene_start _vornak_web_scene_name _vornak_web_status _vornak_web_digest
    _vornak_web_console_text _vornak_web_title)
list(JOIN VORNAK_WEB_EXPORTS "," VORNAK_WEB_EXPORT_LIST)
target_link_options(vornak_web PRIVATE
    -sMODULARIZE=1 -sEXPORT_NAME=createVornak -sENVIRONMENT=web,worker,node
    -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=33554432
    -sEXPORTED_FUNCTIONS=${VORNAK_WEB_EXPORT_LIST}
    -sEXPORTED_RUNTIME_METHODS=ccall,UTF8ToString,HEAPU8)
set_target_properties(vornak_web PROPERTIES OUTPUT_NAME vornak SUFFIX .js
    RUNTIME_OUTPUT_DIRECTORY ${VORNAK_WEB_OUTPUT_DIR})

# The rest of the page beside the program: the page, the show's side of it (run in
# a worker) and the music that the native build composed.
set(VORNAK_WEB_PAGE_FILES
    ${CMAKE_SOURCE_DIR}/web/index.html ${CMAKE_SOURCE_DIR}/web/page.js ${CMAKE_SOURCE_DIR}/web/show.js
    ${VORNAK_NATIVE_BUILD_DIR}/vornak.ogg)
set(VORNAK_WEB_PAGE_OUTPUTS)
foreach(file ${VORNAK_WEB_PAGE_FILES})
    get_filename_component(name ${file} NAME)
    add_custom_command(OUTPUT ${VORNAK_WEB_OUTPUT_DIR}/${name}
        COMMAND ${CMAKE_COMMAND} -E copy ${file} ${VORNAK_WEB_OUTPUT_DIR}/${name}
        DEPENDS ${file} VERBATIM)
    list(APPEND VORNAK_WEB_PAGE_OUTPUTS ${VORNAK_WEB_OUTPUT_DIR}/${name})
endforeach()
add_custom_target(vornak_web_page ALL DEPENDS ${VORNAK_WEB_PAGE_OUTPUTS})

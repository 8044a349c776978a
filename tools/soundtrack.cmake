# The soundtrack: synthesised and encoded at build time into vornak.ogg beside
# the program, which opens it from the working directory.
set(VORNAK_SOUNDTRACK_SOURCES
    tools/soundtrack/cues.cpp tools/soundtrack/synth.cpp tools/soundtrack/ogg_writer.cpp)
vornak_add_tool(vornak_soundtrack tools/soundtrack/main.cpp ${VORNAK_SOUNDTRACK_SOURCES})
target_link_libraries(vornak_soundtrack PRIVATE PkgConfig::VORNAK_VORBIS)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/vornak.ogg
    COMMAND vornak_soundtrack ${CMAKE_BINARY_DIR}/vornak.ogg
    DEPENDS vornak_soundtrack
    COMMENT "Composing vornak.ogg")
add_custom_target(vornak_music ALL DEPENDS ${CMAKE_BINARY_DIR}/vornak.ogg)

# The same synthesiser and encoder for the tests (built like the tests, under
# the sanitizers in the sanitizer build).
add_library(vornak_soundtrack_lib STATIC ${VORNAK_SOUNDTRACK_SOURCES})
target_include_directories(vornak_soundtrack_lib PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(vornak_soundtrack_lib PUBLIC vornak_options PkgConfig::VORNAK_VORBIS)
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR}
    CALL target_link_libraries vornak_tests PRIVATE vornak_soundtrack_lib)
if(NOT VORNAK_SANITIZE)
    cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR}
        CALL target_compile_definitions vornak_bench PRIVATE
        VORNAK_BENCH_BINARY_DIR="${CMAKE_BINARY_DIR}")
endif()

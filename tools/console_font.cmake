# The console font: data/console_font.txt compiled into a 3072-byte table, with a
# PNG sheet of all 256 glyphs (16x16) beside it for looking at.
vornak_add_tool(console_font_gen tools/console_font_gen.cpp platform/png_file.cpp)
target_link_libraries(console_font_gen PRIVATE PNG::PNG)
add_custom_command(
    OUTPUT ${VORNAK_GENERATED_DIR}/console_font.cpp ${VORNAK_GENERATED_DIR}/console_font.png
    COMMAND console_font_gen ${CMAKE_SOURCE_DIR}/data/console_font.txt
            ${VORNAK_GENERATED_DIR}/console_font.cpp ${VORNAK_GENERATED_DIR}/console_font.png
    DEPENDS console_font_gen ${CMAKE_SOURCE_DIR}/data/console_font.txt
    COMMENT "Compiling the console font")
list(APPEND VORNAK_GENERATED_SOURCES ${VORNAK_GENERATED_DIR}/console_font.cpp)

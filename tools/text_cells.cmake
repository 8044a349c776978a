# The text modes' cells of every colour, worked out once by the table fills of
# textmode/ (which the tests check against an exhaustive search) instead of at
# each start.
vornak_add_tool(text_cells_gen tools/text_cells_gen.cpp textmode/text_tables.cpp
    ${VORNAK_GENERATED_DIR}/console_font.cpp)
add_custom_command(
    OUTPUT ${VORNAK_GENERATED_DIR}/text_cells.cpp
    COMMAND text_cells_gen ${VORNAK_GENERATED_DIR}/text_cells.cpp
    DEPENDS text_cells_gen
    COMMENT "Working out the text modes' cells")
list(APPEND VORNAK_GENERATED_SOURCES ${VORNAK_GENERATED_DIR}/text_cells.cpp)

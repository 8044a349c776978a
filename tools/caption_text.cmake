# The caption sheets and the finale's text image, set in our pixel font from the
# texts in data/; previews go to build/assets/. Fails when a text does not fit.
vornak_add_tool(vornak_caption_text tools/caption_text.cpp platform/png_file.cpp)
target_link_libraries(vornak_caption_text PRIVATE PNG::PNG)
add_custom_command(
    OUTPUT ${VORNAK_GENERATED_DIR}/caption_text.cpp
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/assets
    COMMAND vornak_caption_text ${CMAKE_SOURCE_DIR}/data/caption_font.txt ${CMAKE_SOURCE_DIR}/data/captions.txt
            ${VORNAK_GENERATED_DIR}/caption_text.cpp ${CMAKE_BINARY_DIR}/assets
    DEPENDS vornak_caption_text ${CMAKE_SOURCE_DIR}/data/caption_font.txt ${CMAKE_SOURCE_DIR}/data/captions.txt
    COMMENT "Setting the caption sheets and the finale text")
list(APPEND VORNAK_GENERATED_SOURCES ${VORNAK_GENERATED_DIR}/caption_text.cpp)

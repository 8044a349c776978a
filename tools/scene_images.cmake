# The scenes' textures, generated into one source; previews go to build/assets/.
vornak_add_tool(vornak_scene_images tools/scene_images.cpp platform/png_file.cpp)
target_link_libraries(vornak_scene_images PRIVATE PNG::PNG)
add_custom_command(
    OUTPUT ${VORNAK_GENERATED_DIR}/scene_images.cpp
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/assets
    COMMAND vornak_scene_images ${VORNAK_GENERATED_DIR}/scene_images.cpp ${CMAKE_BINARY_DIR}/assets
    DEPENDS vornak_scene_images
    COMMENT "Generating the scene images")
list(APPEND VORNAK_GENERATED_SOURCES ${VORNAK_GENERATED_DIR}/scene_images.cpp)

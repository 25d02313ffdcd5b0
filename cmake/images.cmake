# images.cmake: the pictures in images/ become C++ arrays at build time (tools/png2cpp), so the
# program carries no loose files. tools/make_images draws the field's pictures; it is built on
# request (`cmake --build BUILD --target make_images`) and run by hand from the source tree.

add_executable(png2cpp ${CMAKE_SOURCE_DIR}/tools/png2cpp.cpp)
target_link_libraries(png2cpp PRIVATE PNG::PNG)

add_executable(make_images EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tools/make_images.cpp)
target_link_libraries(make_images PRIVATE PNG::PNG)

set(KELPMOOR_IMAGE_SOURCES "")

# kelpmoor_embed_image(PNG ARRAY LAYOUT WIDTH HEIGHT [HEADER]): images/PNG becomes the array
# ARRAY in LAYOUT (rgba-top, rgb-bottom or png, see tools/png2cpp.cpp), appended to
# KELPMOOR_IMAGE_SOURCES.
function(kelpmoor_embed_image png array layout width height)
    set(out ${CMAKE_BINARY_DIR}/generated/images/${array}.cpp)
    add_custom_command(
        OUTPUT ${out}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated/images
        COMMAND png2cpp ${CMAKE_SOURCE_DIR}/images/${png} ${out} ${array} ${layout}
                ${width} ${height} ${ARGN}
        DEPENDS png2cpp ${CMAKE_SOURCE_DIR}/images/${png}
        COMMENT "Embedding images/${png}"
        VERBATIM)
    set(KELPMOOR_IMAGE_SOURCES ${KELPMOOR_IMAGE_SOURCES} ${out} PARENT_SCOPE)
endfunction()

kelpmoor_embed_image(doughnut.png doughnut_image32x32 rgba-top 32 32 draw/textures.h)
kelpmoor_embed_image(stone.png stone_image32x32 rgba-top 32 32 draw/textures.h)
kelpmoor_embed_image(coin.png coin_image32x32 rgba-top 32 32 draw/textures.h)
kelpmoor_embed_image(ten.png ten_image32x32 rgba-top 32 32 draw/textures.h)
kelpmoor_embed_image(background.png background_image200x200 rgb-bottom 200 200 draw/textures.h)

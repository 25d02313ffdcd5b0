# images.cmake: the pictures in images/ become C++ arrays at build time (tools/png2cpp), so the
# program carries no loose files. tools/make_images draws the field's pictures; it is built on
# request (`cmake --build BUILD --target make_images`) and run by hand from the source tree.

add_executable(png2cpp ${CMAKE_SOURCE_DIR}/tools/png2cpp.cpp)
target_link_libraries(png2cpp PRIVATE PNG::PNG)

add_executable(make_images EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tools/make_images.cpp)
target_link_libraries(make_images PRIVATE PNG::PNG)
# The browser viewer's eight pictures, drawn to their exact file sizes.
add_executable(make_viewer_images EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tools/make_viewer_images.cpp)
target_link_libraries(make_viewer_images PRIVATE ZLIB::ZLIB)
add_executable(text2cpp ${CMAKE_SOURCE_DIR}/tools/text2cpp.cpp)

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

# The browser viewer's pictures, served as the files they are.
foreach(n 0 1 2 3 4 7)
    kelpmoor_embed_image(viewer${n}.png png_img${n} png 64 64)
endforeach()
foreach(n 5 6)
    kelpmoor_embed_image(viewer${n}.png png_img${n} png 32 32)
endforeach()

# The browser viewer's scripts: its own (web/viewer.js) and three.js from Debian's libjs-three.
find_file(KELPMOOR_THREE_JS three.min.js PATHS /usr/share/javascript/three NO_DEFAULT_PATH
          REQUIRED)
function(kelpmoor_embed_text path array)
    set(out ${CMAKE_BINARY_DIR}/generated/web/${array}.cpp)
    add_custom_command(
        OUTPUT ${out}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated/web
        COMMAND text2cpp ${path} ${out} ${array}
        DEPENDS text2cpp ${path}
        COMMENT "Embedding ${path}"
        VERBATIM)
    set(KELPMOOR_IMAGE_SOURCES ${KELPMOOR_IMAGE_SOURCES} ${out} PARENT_SCOPE)
endfunction()
kelpmoor_embed_text(${CMAKE_SOURCE_DIR}/web/viewer.js viewer_js)
kelpmoor_embed_text(${CMAKE_SOURCE_DIR}/web/replay.js replay_js)
kelpmoor_embed_text(${KELPMOOR_THREE_JS} three_min_js)

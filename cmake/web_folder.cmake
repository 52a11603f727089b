# The browser page in the native build: scripts/build-web makes it with
# emscripten in its own build tree, BUILD/web, and the package installs
# BUILD/web/site as share/k7vconf/web, beside the caption files. With
# -DK7V_WEB_FOLDER=OFF, or without emscripten, the package has no web folder.
# Included from CMakeLists.txt in the native (Qt) build.

find_program(K7V_EMCMAKE emcmake)
option(K7V_WEB_FOLDER "Build the browser page with emscripten and install it in share/k7vconf/web" ON)
set(K7V_WEB_FOLDER_BUILD ${CMAKE_CURRENT_BINARY_DIR}/web)
if(K7V_WEB_FOLDER AND NOT K7V_EMCMAKE)
  message(WARNING "emcmake not found (Debian package emscripten): the package goes without the browser page")
elseif(K7V_WEB_FOLDER)
  # Always run: the inner build decides what is out of date, in a second or two.
  add_custom_target(k7v_web_folder ALL
    COMMAND ${CMAKE_COMMAND} -E env WEB_BUILD_DIR=${K7V_WEB_FOLDER_BUILD}
            bash ${CMAKE_CURRENT_SOURCE_DIR}/scripts/build-web
    WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
    USES_TERMINAL
    COMMENT "The browser page, with emscripten, in ${K7V_WEB_FOLDER_BUILD}"
    VERBATIM)
  install(DIRECTORY ${K7V_WEB_FOLDER_BUILD}/site/ DESTINATION ${K7V_SHARED_TEXTS_DIR}/web)
endif()

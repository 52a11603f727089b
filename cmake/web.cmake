# The browser configurator: the core compiled to WebAssembly with emscripten,
# the core's checks as a Node program, and the page as one static folder.
#
#   emcmake cmake -S . -B build-web -G Ninja -DK7V_WEB=ON -DCMAKE_BUILD_TYPE=Release
#   cmake --build build-web
#
# build-web/site/ is then the whole page (index.html, css/, js/, the module's
# k7v_core.js and k7v_core.wasm, both caption files, icons/, the web app
# manifest and service worker), servable from any HTTPS host or localhost, and
# k7vconf.html, the same page in one file to open from disk;
# build-web/core_checks.js runs under Node.
# Included from CMakeLists.txt after the core and core_checks are defined.

if(NOT EMSCRIPTEN)
  message(FATAL_ERROR "K7V_WEB needs emscripten: emcmake cmake -S . -B build-web -DK7V_WEB=ON")
endif()

set(K7V_GENERATED_DIR ${CMAKE_CURRENT_BINARY_DIR}/generated)
set(K7V_SITE_DIR ${CMAKE_CURRENT_BINARY_DIR}/site)

# Debian's emscripten runs its JavaScript optimiser under Node at link time
# and finds the modules it needs only through NODE_PATH.
set(K7V_EMSCRIPTEN_LINK_ENV ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)

# ---------------------------------------------------------------- code page 936
# emscripten's C library has no GBK: a table made by the build machine's iconv
# replaces it (platform/code_page_936.cpp, K7V_CP936_TABLE).
find_program(K7V_HOST_CXX NAMES c++ g++ clang++ NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(K7V_CP936_TABLE ${K7V_GENERATED_DIR}/code_page_936_table.inc)
set(K7V_CP936_GENERATOR ${CMAKE_CURRENT_BINARY_DIR}/host/code_page_936_table)
add_custom_command(OUTPUT ${K7V_CP936_TABLE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/host ${K7V_GENERATED_DIR}
  COMMAND ${K7V_HOST_CXX} -std=c++20 -O1 -Wall -Wextra
          -o ${K7V_CP936_GENERATOR} ${CMAKE_CURRENT_SOURCE_DIR}/cmake/code_page_936_table.cpp
  COMMAND ${K7V_CP936_GENERATOR} ${K7V_CP936_TABLE}
  DEPENDS cmake/code_page_936_table.cpp
  COMMENT "Code page 936 table from the build machine's iconv"
  VERBATIM)
target_sources(k7v_core PRIVATE ${K7V_CP936_TABLE})
target_compile_definitions(k7v_core PRIVATE K7V_CP936_TABLE)
target_include_directories(k7v_core PRIVATE ${K7V_GENERATED_DIR})

# ---------------------------------------------------------------- core checks
# One file, the module inside (no fetch of a .wasm, which Node 18 and later
# would try for a file path): node build-web/core_checks.js
if(TARGET core_checks)
  # NODERAWFS: the conformance table is read from the real file system.
  target_link_options(core_checks PRIVATE -sSINGLE_FILE=1 -sENVIRONMENT=node -sEXIT_RUNTIME=1
                      -sNODERAWFS=1)
  set_target_properties(core_checks PROPERTIES CXX_LINKER_LAUNCHER "${K7V_EMSCRIPTEN_LINK_ENV}")
endif()

# ---------------------------------------------------------------- the module
# The core, the demo unit (dtu-sim's device logic with what it needs from
# sim/, not its pseudo-terminal loop) and the embind binding in web/wasm/.
# A further binding is one more web/wasm/*.cpp with its own EMSCRIPTEN_BINDINGS.
file(GLOB K7V_WEB_MODULE_SOURCES CONFIGURE_DEPENDS web/wasm/*.cpp web/wasm/*.h)
set(K7V_DEMO_UNIT_SOURCES
  sim/dtu_device.cpp
  sim/frame_scanner.cpp
  sim/pty_port.cpp # WireWriter and LinePacer; the pseudo-terminal itself stays unused
  sim/sim_log.cpp
  sim/sim_options.cpp
  sim/sim_state.cpp
)
# Compiled once, linked twice: the site's module (k7v_core.js beside
# k7v_core.wasm) and the single-file page's, with the WebAssembly inside.
add_library(k7v_web_objects OBJECT ${K7V_WEB_MODULE_SOURCES} ${K7V_DEMO_UNIT_SOURCES})
target_link_libraries(k7v_web_objects PUBLIC k7v_core)
target_include_directories(k7v_web_objects PRIVATE ${K7V_GENERATED_DIR})
set(K7V_WEB_MODULE_LINK_OPTIONS
  -lembind
  -sMODULARIZE=1 -sEXPORT_ES6=1 -sEXPORT_NAME=createK7vCore
  -sENVIRONMENT=web -sALLOW_MEMORY_GROWTH=1)
add_executable(k7v_web_module)
target_link_libraries(k7v_web_module PRIVATE k7v_web_objects)
target_link_options(k7v_web_module PRIVATE ${K7V_WEB_MODULE_LINK_OPTIONS})
set_target_properties(k7v_web_module PROPERTIES
  OUTPUT_NAME k7v_core
  RUNTIME_OUTPUT_DIRECTORY ${K7V_SITE_DIR}
  CXX_LINKER_LAUNCHER "${K7V_EMSCRIPTEN_LINK_ENV}")
add_executable(k7v_web_single_core)
target_link_libraries(k7v_web_single_core PRIVATE k7v_web_objects)
target_link_options(k7v_web_single_core PRIVATE ${K7V_WEB_MODULE_LINK_OPTIONS} -sSINGLE_FILE=1)
set_target_properties(k7v_web_single_core PROPERTIES
  OUTPUT_NAME k7v_core
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/single
  CXX_LINKER_LAUNCHER "${K7V_EMSCRIPTEN_LINK_ENV}")

# ---------------------------------------------------------------- the page
# Copied as they are: no bundler, the browser loads the modules itself.
file(GLOB_RECURSE K7V_WEB_PAGE_FILES CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}/web
  web/index.html web/manifest.webmanifest web/css/*.css web/js/*.js)
file(GLOB K7V_WEB_ICONS CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}/resources
  resources/icons/*.png)
# The page greys disabled buttons itself and the browser draws the lists' arrows.
list(FILTER K7V_WEB_ICONS EXCLUDE REGEX "(_disabled|arrow_down)\\.png$")
set(K7V_WEB_SITE_OUTPUTS "")
# Copies each file, a path relative to from_dir, to the same path in the site.
function(k7v_web_copy from_dir)
  foreach(file IN LISTS ARGN)
    add_custom_command(OUTPUT ${K7V_SITE_DIR}/${file}
      COMMAND ${CMAKE_COMMAND} -E copy_if_different
              ${CMAKE_CURRENT_SOURCE_DIR}/${from_dir}/${file} ${K7V_SITE_DIR}/${file}
      DEPENDS ${from_dir}/${file}
      VERBATIM)
    list(APPEND K7V_WEB_SITE_OUTPUTS ${K7V_SITE_DIR}/${file})
  endforeach()
  set(K7V_WEB_SITE_OUTPUTS "${K7V_WEB_SITE_OUTPUTS}" PARENT_SCOPE)
endfunction()
k7v_web_copy(web ${K7V_WEB_PAGE_FILES})
k7v_web_copy(resources ${K7V_WEB_ICONS} caption.ini caption-en.ini)
add_custom_target(k7v_web_site ALL DEPENDS ${K7V_WEB_SITE_OUTPUTS})
add_dependencies(k7v_web_site k7v_web_module)

# k7vconf.html: the whole page in one file that works opened from disk, with
# no server and no network. esbuild (web/node_modules, pinned) bundles the
# modules with the single-file core; styles, icons and caption files go inline.
set(K7V_SINGLE_PAGE ${K7V_SITE_DIR}/k7vconf.html)
list(TRANSFORM K7V_WEB_PAGE_FILES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/web/ OUTPUT_VARIABLE K7V_SINGLE_INPUTS)
list(TRANSFORM K7V_WEB_ICONS PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/resources/ OUTPUT_VARIABLE K7V_SINGLE_ICONS)
add_custom_command(OUTPUT ${K7V_SINGLE_PAGE}
  COMMAND node web/tools/single_file.js $<TARGET_FILE:k7v_web_single_core> ${K7V_SINGLE_PAGE}
  DEPENDS k7v_web_single_core web/tools/single_file.js ${K7V_SINGLE_INPUTS} ${K7V_SINGLE_ICONS}
          resources/caption.ini resources/caption-en.ini
  WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
  COMMENT "k7vconf.html, the page in one file"
  VERBATIM)
add_custom_target(k7v_web_single ALL DEPENDS ${K7V_SINGLE_PAGE})

# Last: the folder holds the page and nothing else, and the service worker
# lists every file with the release they make up, so a visit keeps the page
# for use offline and a new release replaces it. Cheap, so it always runs;
# the worker's file changes only when the page does.
set(K7V_SITE_KEEP ${K7V_WEB_PAGE_FILES} ${K7V_WEB_ICONS} caption.ini caption-en.ini k7v_core.js k7v_core.wasm
    k7vconf.html service_worker.js)
add_custom_target(k7v_web_offline ALL
  COMMAND ${CMAKE_COMMAND} -DSITE=${K7V_SITE_DIR} "-DKEEP=${K7V_SITE_KEEP}"
          -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/prune_site.cmake
  COMMAND node web/tools/offline_site.js ${K7V_SITE_DIR}
  WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
  VERBATIM)
add_dependencies(k7v_web_offline k7v_web_site k7v_web_single)

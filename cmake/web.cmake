# The browser configurator: the core compiled to WebAssembly with emscripten,
# the core's checks as a Node program, and the page as one static folder.
#
#   emcmake cmake -S . -B build-web -G Ninja -DK7V_WEB=ON -DCMAKE_BUILD_TYPE=Release
#   cmake --build build-web
#
# build-web/site/ is then the whole page (index.html, css/, js/, the module's
# k7v_core.js and k7v_core.wasm, both caption files, icons/), servable from
# any HTTPS host or localhost; build-web/core_checks.js runs under Node.
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
add_executable(k7v_web_module ${K7V_WEB_MODULE_SOURCES} ${K7V_DEMO_UNIT_SOURCES})
target_link_libraries(k7v_web_module PRIVATE k7v_core)
target_include_directories(k7v_web_module PRIVATE ${K7V_GENERATED_DIR})
target_link_options(k7v_web_module PRIVATE
  -lembind
  -sMODULARIZE=1 -sEXPORT_ES6=1 -sEXPORT_NAME=createK7vCore
  -sENVIRONMENT=web -sALLOW_MEMORY_GROWTH=1)
set_target_properties(k7v_web_module PROPERTIES
  OUTPUT_NAME k7v_core
  RUNTIME_OUTPUT_DIRECTORY ${K7V_SITE_DIR}
  CXX_LINKER_LAUNCHER "${K7V_EMSCRIPTEN_LINK_ENV}")

# ---------------------------------------------------------------- the page
# Copied as they are: no bundler, the browser loads the modules itself.
file(GLOB_RECURSE K7V_WEB_PAGE_FILES CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}/web
  web/index.html web/css/*.css web/js/*.js)
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
set(K7V_SITE_KEEP ${K7V_WEB_PAGE_FILES} ${K7V_WEB_ICONS} caption.ini caption-en.ini k7v_core.js k7v_core.wasm)
add_custom_command(TARGET k7v_web_site POST_BUILD
  COMMAND ${CMAKE_COMMAND} -DSITE=${K7V_SITE_DIR} "-DKEEP=${K7V_SITE_KEEP}"
          -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/prune_site.cmake
  VERBATIM)

# The browser configurator: the core compiled to WebAssembly with emscripten
# and the core's checks as a Node program.
#
#   emcmake cmake -S . -B build-web -G Ninja -DK7V_WEB=ON -DCMAKE_BUILD_TYPE=Release
#   cmake --build build-web
#
# build-web/core_checks.js then runs under Node.
# Included from CMakeLists.txt after the core and core_checks are defined.

if(NOT EMSCRIPTEN)
  message(FATAL_ERROR "K7V_WEB needs emscripten: emcmake cmake -S . -B build-web -DK7V_WEB=ON")
endif()

set(K7V_GENERATED_DIR ${CMAKE_CURRENT_BINARY_DIR}/generated)

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
  target_link_options(core_checks PRIVATE -sSINGLE_FILE=1 -sENVIRONMENT=node -sEXIT_RUNTIME=1)
  set_target_properties(core_checks PROPERTIES CXX_LINKER_LAUNCHER "${K7V_EMSCRIPTEN_LINK_ENV}")
endif()

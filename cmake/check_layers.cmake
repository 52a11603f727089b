cmake_minimum_required(VERSION 3.25)
# Keeps the layers apart: the window's code lives in app/ alone.
#   core (K7V_CORE_SOURCES): standard C++, no Qt at all;
#   everything else under link/, params/, firmware/ and platform/: at most
#   QtCore and QtSerialPort, never a widget and never a header from app/;
#   cli/: no widgets and nothing from app/.
# Run as: cmake -DSOURCE_DIR=... -DCORE_SOURCES="a.cpp;b.cpp" -P check_layers.cmake
set(failures "")

function(scan_file file forbidden_regex what)
  file(STRINGS "${SOURCE_DIR}/${file}" lines REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS lines)
    if(line MATCHES "${forbidden_regex}")
      set(failures "${failures}\n  ${file}: ${what}: ${line}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
endfunction()

set(widget_headers "[<\"](app/|ui_|QtWidgets|QWidget|QDialog|QMainWindow|QApplication|QComboBox|QLineEdit|QLabel|QCheckBox|QMessageBox|QFileDialog|QAbstractButton|QPushButton|QPlainTextEdit)")
set(core_headers "[<\"](app/|ui_|Q[A-Za-z]+[>\"]|Qt[A-Za-z]+/)")

foreach(dir link params firmware platform cli)
  file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/${dir}/*.cpp" "${SOURCE_DIR}/${dir}/*.h")
  foreach(file IN LISTS files)
    if(file IN_LIST CORE_SOURCES)
      scan_file("${file}" "${core_headers}" "the core uses no Qt")
    else()
      scan_file("${file}" "${widget_headers}" "no widgets below the window")
    endif()
  endforeach()
endforeach()
# A core source's own header is core too.
foreach(src IN LISTS CORE_SOURCES)
  string(REGEX REPLACE "\\.cpp$" ".h" header "${src}")
  if(EXISTS "${SOURCE_DIR}/${header}")
    scan_file("${header}" "${core_headers}" "the core uses no Qt")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "layer check failed:${failures}")
endif()
message(STATUS "layer check: core free of Qt, no widgets below app/")

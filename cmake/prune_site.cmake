# Removes from the page's folder every file the build no longer puts there (a
# module deleted from web/js, an icon renamed), so the folder, and the package
# made from it, holds the page and nothing else.
#   cmake -DSITE=DIR -DKEEP="a;b/c;..." -P prune_site.cmake   (paths relative to DIR)
cmake_minimum_required(VERSION 3.25)
file(GLOB_RECURSE present RELATIVE ${SITE} ${SITE}/*)
foreach(file IN LISTS present)
  if(NOT file IN_LIST KEEP)
    message(STATUS "site: removing ${file}, no longer part of the page")
    file(REMOVE ${SITE}/${file})
  endif()
endforeach()

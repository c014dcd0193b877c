# Makes CTest run cross-built Windows programs through cmake/wine-run.sh.
if(NOT SELFEX_WINE64)
  message(STATUS "wine64 not found: Windows tests are built but cannot run")
  return()
endif()
get_filename_component(_wine_dir "${SELFEX_WINE64}" DIRECTORY)
find_program(SELFEX_WINESERVER NAMES wineserver PATHS ${_wine_dir} NO_DEFAULT_PATH)
find_program(SELFEX_WINESERVER NAMES wineserver)
set(SELFEX_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
               @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)

# Builds that give the same bytes for the same sources, wherever the source
# and build folders lie: no folder names in the objects (__FILE__ in
# assertions, debug information), and no link time in the Windows
# executables (MingwCommon.cmake). Debug builds keep their absolute paths,
# so that debuggers find the sources.
set(_selfex_prefix_maps
    # The build folder last: it lies inside the source folder, and the last
    # matching map wins.
    -ffile-prefix-map=${PROJECT_SOURCE_DIR}/=
    -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
add_compile_options("$<$<AND:$<COMPILE_LANGUAGE:C,CXX>,$<NOT:$<CONFIG:Debug>>>:${_selfex_prefix_maps}>")

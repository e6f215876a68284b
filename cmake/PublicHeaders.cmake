# The library's public C++ face: the headers installed under include/dorvane, and the same headers
# copied into the build tree, where the front ends (the tool, the Python module) find them as
# users of an installed copy do, <dorvane/NAME.hpp>. A front end links the libraries with
# $<LINK_ONLY:...> and dorvane_public, so that an include past the public face does not build.
add_library(dorvane_public INTERFACE)
target_include_directories(dorvane_public INTERFACE
    ${PROJECT_BINARY_DIR}/public
    ${PROJECT_SOURCE_DIR}/pipeline/include)

# Installs the headers, from the calling folder or a folder below it, and copies them into the
# build tree's face: each under its bare name, as the floors include one another.
function(dorvane_public_headers)
    foreach(header IN LISTS ARGN)
        cmake_path(GET header FILENAME name)
        configure_file(${header} ${PROJECT_BINARY_DIR}/public/dorvane/${name} COPYONLY)
    endforeach()
    install(FILES ${ARGN} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/dorvane)
endfunction()

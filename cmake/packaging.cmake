# Debian packages, made by CPack from the install components (cpack --preset deb):
#   libintset1     component intset_runtime: the shared library
#   libintset-dev  component intset: headers, the .so link, the static library, the CMake package, intset.pc
#   nbl            component nbl: the tool and its manual page
#   numbrelle      component numbrelle: the demo, its menu entry, icon and manual page
# Each carries the copyright file and changelog in /usr/share/doc/<package>. Dependencies on system libraries
# are computed by dpkg-shlibdeps; those between the packages are stated with the exact version.
include(GNUInstallDirs)

set(NUMBRELLE_DEB_PACKAGES intset_runtime libintset1 intset libintset-dev nbl nbl numbrelle numbrelle)

# The copyright file and the changelog, compressed as Debian installs it, in each package's doc folder.
set(_changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${_changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
  COMMAND gzip -9n < ${PROJECT_SOURCE_DIR}/packaging/changelog > ${_changelog}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
add_custom_target(numbrelle_changelog ALL DEPENDS ${_changelog})
while(NUMBRELLE_DEB_PACKAGES)
  list(POP_FRONT NUMBRELLE_DEB_PACKAGES component package)
  string(TOUPPER ${component} COMPONENT)
  set(CPACK_DEBIAN_${COMPONENT}_PACKAGE_NAME ${package})
  set(CPACK_DEBIAN_${COMPONENT}_FILE_NAME DEB-DEFAULT)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${_changelog}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endwhile()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL intset_runtime intset nbl numbrelle)
set(CPACK_PACKAGE_NAME numbrelle)
# Each package's description is its component's; CPack would put a summary of the whole project before each
# unless the summary is its own default.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_PACKAGE_VENDOR "The Numbrelle developers")
set(CPACK_PACKAGE_CONTACT "Numbrelle developers <numbrelle@example.org>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://numbrelle.example.org")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE "")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/intset)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(_same_version "libintset1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_INTSET_RUNTIME_PACKAGE_SECTION libs)
# The dynamic linker's cache is refreshed by dpkg's ldconfig trigger, as Debian's own library packages do.
set(CPACK_DEBIAN_INTSET_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/triggers)
set(CPACK_COMPONENT_INTSET_RUNTIME_DESCRIPTION
"sparse set of 32-bit integers (shared library)
The intset library holds any subset of the 32-bit signed integers in memory
proportional to the occupied 256-value blocks, with block-wise set algebra,
ranges, order statistics, and a compact, checksummed file format; it also
reads and writes the portable Roaring bitmap format.
.
This package holds the shared library.")
set(CPACK_DEBIAN_INTSET_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_INTSET_PACKAGE_DEPENDS "${_same_version}")
set(CPACK_COMPONENT_INTSET_DESCRIPTION
"sparse set of 32-bit integers (development files)
The intset library holds any subset of the 32-bit signed integers in memory
proportional to the occupied 256-value blocks, with block-wise set algebra,
ranges, order statistics, and a compact, checksummed file format.
.
This package holds the C++20 headers, the link to the shared library, the
static library, the CMake package (find_package(intset)) and intset.pc.")
set(CPACK_DEBIAN_NBL_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_NBL_PACKAGE_DEPENDS "${_same_version}")
set(CPACK_COMPONENT_NBL_DESCRIPTION
"look into, convert, combine and check files of 32-bit integer sets
nbl reads and writes sets of 32-bit signed integers in the set file format of
the intset library, in the portable Roaring bitmap format, and as text. It
describes, lists, converts, combines (intersect, unite, subtract, invert) and
checks them, names the file in every error, and never loses an existing file
it replaces.")
set(CPACK_DEBIAN_NUMBRELLE_PACKAGE_SECTION math)
set(CPACK_DEBIAN_NUMBRELLE_PACKAGE_DEPENDS "${_same_version}")
# The window's icon is drawn by Qt's SVG support; its captions fit in Liberation Sans Narrow.
set(CPACK_DEBIAN_NUMBRELLE_PACKAGE_RECOMMENDS "libqt6svg6, fonts-liberation")
set(CPACK_COMPONENT_NUMBRELLE_DESCRIPTION
"two sets of 32-bit integers side by side, in a window
Numbrelle shows two sparse sets of 32-bit integers side by side: include,
exclude and invert members, combine the sets (intersection, union,
difference), compare them, save and load them, and undo the last change of
the first set. It demonstrates the intset library.")

include(CPack)

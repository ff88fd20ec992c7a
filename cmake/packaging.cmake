# Debian packages, one per install component: `cpack -G DEB` in a build
# folder of the shared library writes libtarn0_<version>_<arch>.deb and
# libtarn-dev_<version>_<arch>.deb.
set(CPACK_PACKAGE_NAME tarn)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(NOT CPACK_PACKAGE_CONTACT)
  set(CPACK_PACKAGE_CONTACT "tarn developers <tarn@example.org>")
endif()
# The hook for gdb is named after the library's absolute path: install under
# DESTDIR with the real prefix.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL Runtime Development)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(tarn_about "tarn keeps caller-owned records in height-balanced binary search trees
through nodes embedded in the records. It never allocates, takes no locks
and needs nothing but libc; tarn.hpp adds a typed header-only C++ face.")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtarn${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The long descriptions; CPack puts the project's description above them.
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "${tarn_about}
This package holds the shared library.")
find_program(TARN_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TARN_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libc6")
endif()

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libtarn-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
    "${CPACK_DEBIAN_RUNTIME_PACKAGE_NAME} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "${tarn_about}
This package holds tarn.h, tarn.hpp, the link to the library, the CMake
package tarn::tarn, tarn.pc and pretty-printers for gdb.")

include(CPack)

# SPDX-License-Identifier: MIT
# Debian packages, one per install component: `cpack -G DEB` in a build
# folder of the shared library configured with -DCMAKE_INSTALL_PREFIX=/usr
# writes libtarn0_<version>_<arch>.deb and libtarn-dev_<version>_<arch>.deb.
# With that prefix GNUInstallDirs puts the library, tarn.pc and the CMake
# package in the multiarch folder lib/<triplet>, where Debian wants them.
set(CPACK_PACKAGE_NAME tarn)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the tarn developers")
# The licence: each Debian package carries it in its copyright file
# (cmake/debian/copyright, machine-readable, as Expat); generators with a
# licence page or field take it from here.
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RPM_PACKAGE_LICENSE ${TARN_LICENSE})
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
set(CPACK_DEBIAN_PACKAGE_SOURCE tarn)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(tarn_about "tarn keeps caller-owned records in height-balanced binary search trees
through nodes embedded in the records. It never allocates, takes no locks
and needs nothing but libc; tarn.hpp adds a typed header-only C++ face.")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtarn${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The long descriptions; CPack puts the project's description above them.
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "${tarn_about}
This package holds the shared library.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libtarn-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
    "${CPACK_DEBIAN_RUNTIME_PACKAGE_NAME} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "${tarn_about}
This package holds tarn.h, tarn.hpp, the link to the library, the CMake
package tarn::tarn, tarn.pc and pretty-printers for gdb.")

# The runtime package tells dpkg what provides libtarn.so.0 (shlibs, and per
# function since which version: symbols) and has dpkg run ldconfig through
# its trigger. CPack's own dependency scan would add maintainer scripts that
# call ldconfig, so the dependencies come from cmake/cpack_project.cmake.in.
set(tarn_debian ${PROJECT_BINARY_DIR}/debian)
file(WRITE ${tarn_debian}/shlibs
     "libtarn ${PROJECT_VERSION_MAJOR} ${CPACK_DEBIAN_RUNTIME_PACKAGE_NAME} (>= ${PROJECT_VERSION})\n")
file(WRITE ${tarn_debian}/triggers "activate-noawait ldconfig\n")
configure_file(cmake/debian/symbols ${tarn_debian}/symbols COPYONLY)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
    ${tarn_debian}/shlibs ${tarn_debian}/symbols ${tarn_debian}/triggers)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS OFF)
set(TARN_DEB_MULTIARCH_LIBDIR "")
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(TARN_DEB_MULTIARCH_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE})
endif()
configure_file(cmake/cpack_project.cmake.in ${tarn_debian}/cpack_project.cmake.in @ONLY)
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake
     INPUT ${tarn_debian}/cpack_project.cmake.in)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)

# Each package's copyright and changelog (gzip -9n: the same bytes from every
# build), installed only into the packages, not by a plain cmake --install.
find_program(TARN_GZIP gzip)
if(TARN_GZIP)
  execute_process(COMMAND ${TARN_GZIP} -9nc ${PROJECT_SOURCE_DIR}/cmake/debian/changelog
                  OUTPUT_FILE ${tarn_debian}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${PROJECT_SOURCE_DIR}/cmake/debian/changelog)
  foreach(component Runtime Development)
    string(TOUPPER ${component} upper)
    install(FILES cmake/debian/copyright ${tarn_debian}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME}
            COMPONENT ${component} EXCLUDE_FROM_ALL)
  endforeach()
endif()

include(CPack)

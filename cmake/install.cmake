# Install rules, the CMake package of the reader library and the Debian
# packages.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The man page carries the version and the release date.
set(IMGPRY_MAN_DATE ${IMGPRY_RELEASE_DATE})
configure_file(${PROJECT_SOURCE_DIR}/man/imgpry.1.in ${PROJECT_BINARY_DIR}/imgpry.1 @ONLY)
# Installed compressed, as manual pages are; -n keeps the file the same from
# build to build.
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/imgpry.1.gz
                   COMMAND gzip -9 -n -c ${PROJECT_BINARY_DIR}/imgpry.1 > ${PROJECT_BINARY_DIR}/imgpry.1.gz
                   DEPENDS ${PROJECT_BINARY_DIR}/imgpry.1
                   COMMENT "Compressing the manual page")
add_custom_target(man_page ALL DEPENDS ${PROJECT_BINARY_DIR}/imgpry.1.gz)

configure_file(${PROJECT_SOURCE_DIR}/man/imgpry-info.1.in ${PROJECT_BINARY_DIR}/imgpry-info.1 @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/imgpry-info.1.gz
                   COMMAND gzip -9 -n -c ${PROJECT_BINARY_DIR}/imgpry-info.1 > ${PROJECT_BINARY_DIR}/imgpry-info.1.gz
                   DEPENDS ${PROJECT_BINARY_DIR}/imgpry-info.1
                   COMMENT "Compressing the manual page of imgpry-info")
add_custom_target(info_man_page ALL DEPENDS ${PROJECT_BINARY_DIR}/imgpry-info.1.gz)

install(TARGETS imgpry imgpry-info RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
install(FILES ${PROJECT_BINARY_DIR}/imgpry.1.gz ${PROJECT_BINARY_DIR}/imgpry-info.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)

# The reader, for programs of one's own: find_package(imgpry) gives
# imgpry::reader.
install(TARGETS imgpry_reader EXPORT imgpryTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/reader/include/imgpry DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT development FILES_MATCHING PATTERN "*.h")
# For build systems that look libraries up with pkg-config.
# The file finds the prefix from where it lies, so it stays right under any
# --prefix given at install time and inside the packages.
string(REGEX REPLACE "[^/]+" ".." IMGPRY_PC_UP "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
configure_file(${PROJECT_SOURCE_DIR}/cmake/imgpry.pc.in ${PROJECT_BINARY_DIR}/imgpry.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/imgpry.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
set(IMGPRY_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/imgpry)
install(EXPORT imgpryTargets NAMESPACE imgpry:: DESTINATION ${IMGPRY_CMAKE_DIR} COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/imgpryConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/imgpryConfig.cmake INSTALL_DESTINATION ${IMGPRY_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/imgpryConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/imgpryConfig.cmake ${PROJECT_BINARY_DIR}/imgpryConfigVersion.cmake
        DESTINATION ${IMGPRY_CMAKE_DIR} COMPONENT development)

# What Debian wants of every package: the licence in the machine-readable
# copyright format and a compressed changelog, under /usr/share/doc/PACKAGE.
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/copyright.in ${PROJECT_BINARY_DIR}/debian/copyright @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.gz
                   COMMAND gzip -9 -n -c ${PROJECT_BINARY_DIR}/debian/changelog > ${PROJECT_BINARY_DIR}/debian/changelog.gz
                   DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog
                   COMMENT "Compressing the changelog")
add_custom_target(debian_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.gz)
foreach(package_component IN ITEMS "imgpry;tool" "imgpry-dev;development")
  list(GET package_component 0 package)
  list(GET package_component 1 component)
  install(FILES ${PROJECT_BINARY_DIR}/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/imgpry-dev.overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME imgpry-dev COMPONENT development)

# cpack -G DEB: imgpry (the tool and its manual) and imgpry-dev (the
# reader library, its headers and its CMake package). Each package's
# description starts with its own summary line, so no package-wide summary
# is set (CPack would put it before both).
set(CPACK_PACKAGE_NAME imgpry)
set(CPACK_PACKAGE_VENDOR "imgpry developers")
set(CPACK_PACKAGE_CONTACT "imgpry developers <dev@imgpry.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tool development)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME imgpry)
set(CPACK_DEBIAN_TOOL_DESCRIPTION
    "list and extract the files of D88 floppy disk image containers
imgpry reads a container of floppy disk images stored back to back in the
multi-disk layout commonly called D88, lists every disk's file directory and
writes each file, byte for byte, into the current directory. It recovers
every sector it can, reports what was lost and what the dumping drive marked
bad, and never writes through a link. imgpry-info shows what an image holds,
disk by disk, file by file and sector by sector, as a report, JSON or an SVG
map.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME imgpry-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
    "reader library for D88 floppy disk image containers
The disk image reader of imgpry as a static C++ library with its headers and
a CMake package and a pkg-config file: find_package(imgpry) gives the target
imgpry::reader, and pkg-config --cflags --libs imgpry the flags.")
include(CPack)

# What `cmake --install` and the Debian package put in place: the two
# programs, the library (archive and shared) with its headers, its
# pkg-config file and CMake package, the manual pages, the bash completions
# and the documentation.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VENDLINK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vendlink)

install(TARGETS vendhook RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Installed under the names programs use: vendlink::vendlink is the shared
# library, vendlink::vendlink_static the archive.
set_target_properties(vendlink PROPERTIES EXPORT_NAME vendlink_static)
set_target_properties(vendlink_shared PROPERTIES EXPORT_NAME vendlink)
install(TARGETS vendlink vendlink_shared EXPORT vendlinkTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/vendlink
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")

install(EXPORT vendlinkTargets NAMESPACE vendlink:: DESTINATION ${VENDLINK_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/vendlinkConfig.cmake.in
  ${PROJECT_BINARY_DIR}/vendlinkConfig.cmake
  INSTALL_DESTINATION ${VENDLINK_CMAKE_DIR})
# A new major version is a new soname: nothing older or newer will do.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vendlinkConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/vendlinkConfig.cmake
  ${PROJECT_BINARY_DIR}/vendlinkConfigVersion.cmake
  DESTINATION ${VENDLINK_CMAKE_DIR})

# The pkg-config file names absolute directories, and the prefix is known
# only when installing (`--prefix`, or /usr under DESTDIR for the package),
# so it is written then.
install(CODE "
  set(VENDLINK_PC_TEMPLATE \"${CMAKE_CURRENT_LIST_DIR}/vendlink.pc.in\")
  set(VENDLINK_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(VENDLINK_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(VENDLINK_PC_VERSION \"${PROJECT_VERSION}\")
  include(\"${CMAKE_CURRENT_LIST_DIR}/InstallPkgConfig.cmake\")
")

install(FILES ${PROJECT_SOURCE_DIR}/man/vendhook.1 ${PROJECT_SOURCE_DIR}/man/vendsim.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/man/vendlink.3 DESTINATION ${CMAKE_INSTALL_MANDIR}/man3)
# Where bash-completion looks for a command's completion when it is first used.
install(FILES ${PROJECT_SOURCE_DIR}/tools/completion/vendhook ${PROJECT_SOURCE_DIR}/tools/completion/vendsim
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/examples/vendconnect.c
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

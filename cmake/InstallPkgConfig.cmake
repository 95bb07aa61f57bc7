# Runs at install time, from cmake_install.cmake: writes vendlink.pc for the
# prefix being installed to.  Set by the caller: VENDLINK_PC_TEMPLATE,
# VENDLINK_PC_LIBDIR, VENDLINK_PC_INCLUDEDIR (each relative to the prefix or
# absolute) and VENDLINK_PC_VERSION.

# A directory as the .pc file writes it, and as an absolute path.
function(vendlink_pc_dir dir pc_var abs_var)
  if(IS_ABSOLUTE "${dir}")
    set(${pc_var} "${dir}" PARENT_SCOPE)
    set(${abs_var} "${dir}" PARENT_SCOPE)
  else()
    set(${pc_var} "\${prefix}/${dir}" PARENT_SCOPE)
    set(${abs_var} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

function(vendlink_install_pc)
  set(prefix "${CMAKE_INSTALL_PREFIX}")
  vendlink_pc_dir("${VENDLINK_PC_LIBDIR}" libdir full_libdir)
  vendlink_pc_dir("${VENDLINK_PC_INCLUDEDIR}" includedir full_includedir)
  set(version "${VENDLINK_PC_VERSION}")

  file(READ "${VENDLINK_PC_TEMPLATE}" template)
  string(CONFIGURE "${template}" text @ONLY)

  set(destination "${full_libdir}/pkgconfig/vendlink.pc")
  message(STATUS "Installing: $ENV{DESTDIR}${destination}")
  file(WRITE "$ENV{DESTDIR}${destination}" "${text}")
  # Listed like every other installed file, so install_manifest.txt is whole.
  set(CMAKE_INSTALL_MANIFEST_FILES ${CMAKE_INSTALL_MANIFEST_FILES} "${destination}" PARENT_SCOPE)
endfunction()

vendlink_install_pc()

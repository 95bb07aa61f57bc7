# `cpack` in the build tree makes a Debian package of everything that
# `cmake --install` puts in place, under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vendhook)
set(CPACK_PACKAGE_VENDOR "vendhook maintainers")
set(CPACK_PACKAGE_CONTACT "vendhook maintainers <maintainers@users.noreply.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "hang up the dial-up modem on a serial port")
set(CPACK_PACKAGE_DESCRIPTION
  "vendhook opens a serial port, sends the modem its hang-up string, waits
briefly for the acknowledgement, optionally drops DTR, and says how it went.
The package also holds vendlink, the link library it shares with connect
programs (serial-port set-up, modem configuration, dialing and hang-up, the
framed packet protocol of a remote receiver, a device lock) as a shared
library and an archive, with C headers, a pkg-config file and a CMake
package; and vendsim, a simulated modem and receiver on a pseudo-terminal,
for trying it all without hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The build keeps debugging information; the package does not need it.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies from the binaries' own needs; a shlibs file and the ldconfig
# trigger for libvendlink.so.2.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# A program built against 2.9 runs with any later 2.x: the soname says so.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

include(CPack)

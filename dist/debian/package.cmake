# The Debian package: `cpack -G DEB` in the build directory.
set(CPACK_PACKAGE_NAME vlsms)
set(CPACK_PACKAGE_VENDOR "vlsms maintainers")
set(CPACK_PACKAGE_CONTACT "vlsms maintainers <maintainers@users.noreply.c-seed-d7e56974.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "receive the SMS of a bank of GSM modems into MySQL")
set(CPACK_PACKAGE_DESCRIPTION
    "vlsms reads the SMS that arrive on a bank of GSM modems (one SIM card each,
on serial ports, in PDU mode), keeps every part in a local SQLite store,
reassembles multi-part messages and forwards each complete message as one row
into the MySQL table smsserver_in, with the phone number assigned to the
receiving SIM card.
.
The package holds the window vlsms, the service vlsmsd with its systemd unit
(run as the user vlsms on /var/lib/vlsms, enabled but not started) and the
diagnostic command vlsms-pdu.")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# What the libraries do not tell dpkg-shlibdeps: the Qt SQL driver loaded as
# a plugin (the store is SQLite; the MySQL link is the MariaDB client library,
# which dpkg-shlibdeps finds), the font the window's Chinese texts are laid
# out for, and adduser for the maintainer scripts where systemd-sysusers is
# missing.
if(VLSMS_QT5)
  set(qt_plugins "libqt5sql5-sqlite")
else()
  set(qt_plugins "libqt6sql6-sqlite")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${qt_plugins}, adduser")
if(VLSMS_GUI)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", fonts-wqy-zenhei")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "systemd")

set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/postinst ${CMAKE_CURRENT_LIST_DIR}/prerm ${CMAKE_CURRENT_LIST_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)

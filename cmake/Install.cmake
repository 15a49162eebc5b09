# Install layout and the Debian package.
#
# The program finds its word library reply.ini in the directory of its own resolved executable,
# so the two are installed together in one directory of their own (/opt/chatroom-server by
# default) and the PATH gets a symbolic link to the executable there. The desktop entry, the
# icons, the systemd user unit and the documentation go under the prefix in their usual places.
# Nothing is installed in a user's home, and the package has no maintainer scripts: removing it
# leaves every user's value store (~/.config/chatroom-server/) as it is.
include(GNUInstallDirs)

set(CHATROOM_INSTALL_APPDIR "/opt/chatroom-server" CACHE STRING
    "Directory holding the program and its reply.ini (absolute, or relative to the prefix)")
set(CHATROOM_INSTALL_USERUNITDIR "lib/systemd/user" CACHE STRING
    "Directory of systemd user units (relative to the prefix)")
set(CHATROOM_PACKAGE_MAINTAINER "chatroom-server developers <chatroom-server@example.org>" CACHE STRING
    "Maintainer field of the Debian package")

install(TARGETS chatroom-server RUNTIME DESTINATION ${CHATROOM_INSTALL_APPDIR})
install(FILES ${CMAKE_SOURCE_DIR}/data/reply.ini DESTINATION ${CHATROOM_INSTALL_APPDIR})

# The link on the PATH. It is made in the build tree and installed as a link (install copies
# links as links); an absolute program directory gets an absolute target, a relative one a
# relative target so the installed tree can be moved as a whole.
if(IS_ABSOLUTE "${CHATROOM_INSTALL_APPDIR}")
  set(chatroom_link_target "${CHATROOM_INSTALL_APPDIR}/chatroom-server")
else()
  file(RELATIVE_PATH chatroom_link_target "/prefix/${CMAKE_INSTALL_BINDIR}"
       "/prefix/${CHATROOM_INSTALL_APPDIR}/chatroom-server")
endif()
set(chatroom_link_dir ${CMAKE_CURRENT_BINARY_DIR}/install-link)
file(MAKE_DIRECTORY ${chatroom_link_dir})
file(CREATE_LINK "${chatroom_link_target}" ${chatroom_link_dir}/chatroom-server SYMBOLIC)
install(FILES ${chatroom_link_dir}/chatroom-server DESTINATION ${CMAKE_INSTALL_BINDIR})

# Desktop integration: the menu entry and the icon it names, as SVG and as the 64x64 PNG.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/chatroom-server.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/chatroom-server.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/chatroom-server.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps)

# The user unit starts the program through the link on the PATH. The unit in packaging/ names
# /usr/bin, where the package puts the link; an install under another prefix gets a copy naming
# that prefix's link instead. This runs at install time because only then is the prefix known
# for certain (cmake --install --prefix, or the package's /usr).
install(CODE "
  set(chatroom_unit_source \"${CMAKE_SOURCE_DIR}/packaging/chatroom-server.service\")
  set(chatroom_unit_dir \"${CMAKE_CURRENT_BINARY_DIR}/install-unit\")
  set(chatroom_link \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/chatroom-server\")
  file(READ \"\${chatroom_unit_source}\" chatroom_unit)
  string(REPLACE \"ExecStart=/usr/bin/chatroom-server\" \"ExecStart=\${chatroom_link}\" chatroom_unit \"\${chatroom_unit}\")
  file(WRITE \"\${chatroom_unit_dir}/chatroom-server.service\" \"\${chatroom_unit}\")
  file(INSTALL \"\${chatroom_unit_dir}/chatroom-server.service\"
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CHATROOM_INSTALL_USERUNITDIR}\")
")

# Licence and README. Debian looks for the licence as copyright in the package's doc directory.
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)

# The Debian package: cpack -G DEB in a Release build directory.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "chatroom-server")
set(CPACK_PACKAGE_VENDOR "the chatroom-server developers")
set(CPACK_PACKAGE_CONTACT "${CHATROOM_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "server of a small text chat room, with its console window")
# The program directory is absolute, so the package is staged through DESTDIR with the final
# prefix, which is also what the user unit's ExecStart is made from.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX "/usr")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME "chatroom-server")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CHATROOM_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The summary above is the description's first line; this is the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "The administrator sees one small window, the console, listing the connected
clients. Every byte a client sends over TCP (port 19730) is relayed to the
whole room; a keyword robot answers from a word library that the clients can
vote off and on; a pop-up menu on the roster kicks, shakes, rewards or mutes
a client. It also runs headless, as a systemd user service.")
# A font with Chinese characters, so the console's captions and banner are readable.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ncat | telnet | socat, sqlite3")
# The word library is the administrator's to edit: as a configuration file an upgrade does not
# overwrite local changes, and only a purge removes it.
set(chatroom_conffiles ${CMAKE_CURRENT_BINARY_DIR}/debian-control/conffiles)
if(IS_ABSOLUTE "${CHATROOM_INSTALL_APPDIR}")
  file(WRITE ${chatroom_conffiles} "${CHATROOM_INSTALL_APPDIR}/reply.ini\n")
else()
  file(WRITE ${chatroom_conffiles} "${CPACK_PACKAGING_INSTALL_PREFIX}/${CHATROOM_INSTALL_APPDIR}/reply.ini\n")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${chatroom_conffiles})

# Depends from the libraries the program really links, where dpkg-shlibdeps can tell (configure
# with -DCHATROOM_DPKG_SHLIBDEPS=OFF to skip it). Otherwise a fixed list: the Qt 6.4 the program
# is built against (Debian 12), libxcb for the check of the X display before Qt opens it, SQLite
# 3.24 for the upserts of the value store, and the C and C++ runtimes of GCC 12.
find_program(CHATROOM_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(CHATROOM_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libqt6widgets6 (>= 6.4.0), libqt6gui6 (>= 6.4.0), libqt6core6 (>= 6.4.0), libxcb1, libsqlite3-0 (>= 3.24.0), libc6 (>= 2.34), libstdc++6 (>= 12)")
endif()

include(CPack)

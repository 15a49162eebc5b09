# The Windows program's packages, made by CPack in the Windows build directory
# (cd build/windows && cpack): a zip to unpack and run anywhere, and an NSIS installer.
#
# Both hold the program, its word library reply.ini beside it (the program reads it from its
# own directory), the README and the licence. The installer puts them in
# C:\Program Files\chatroom-server, adds a Start-menu shortcut 聊天室服务器 and an uninstaller
# (also listed under Apps / Programs and Features). Uninstalling removes the program's files
# and shortcuts and nothing else: the polls live in the user's registry key
# HKEY_CURRENT_USER\SOFTWARE\聊天室\机器人, which belongs to the user, not to the installation.
#
# The installer is built for amd64-unicode (Debian's nsis ships those stubs): a 64-bit
# installer for a 64-bit program, so that it writes to the 64-bit Program Files and registry
# view, and so that 64-bit Wine alone can run it in the tests.
include_guard(GLOBAL)

# Everything in the installation directory itself, as the program expects.
install(TARGETS chatroom-server RUNTIME DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/data/reply.ini ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION .)

set(CPACK_GENERATOR "ZIP;NSIS")
set(CPACK_PACKAGE_NAME "chatroom-server")
set(CPACK_PACKAGE_VENDOR "chatroom-server developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "server of a small text chat room, with its console window")
set(CPACK_PACKAGE_FILE_NAME "chatroom-server-${PROJECT_VERSION}-win64")
# C:\Program Files\chatroom-server, and the key under which the installer keeps its own records.
set(CPACK_PACKAGE_INSTALL_DIRECTORY "chatroom-server")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "chatroom-server")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

# The Start-menu shortcut: chatroom-server.exe, shown as 聊天室服务器.
set(CPACK_PACKAGE_EXECUTABLES "chatroom-server;聊天室服务器")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY ".")
set(CPACK_NSIS_INSTALLED_ICON_NAME "chatroom-server.exe")
set(CPACK_NSIS_PACKAGE_NAME "chatroom-server")
set(CPACK_NSIS_DISPLAY_NAME "chatroom-server ${PROJECT_VERSION}")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
# Installing over an earlier version removes that one first; the program is not put on PATH.
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MODIFY_PATH OFF)

include(CPack)

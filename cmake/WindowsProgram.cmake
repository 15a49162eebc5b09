# The Windows program's own settings: a GUI-subsystem executable (no console window opens
# beside it) with the Unicode entry point, wWinMain, so that the command line and everything
# else it starts from arrives as UTF-16; and its resources: the icon, the manifest and the
# version information (src/platform/win32/resources), the version being the project's.
# Linked statically by the toolchain file.
#   include(cmake/WindowsProgram.cmake)   then   chatroom_windows_program(chatroom-server)
include_guard(GLOBAL)
enable_language(RC)

function(chatroom_windows_program target)
  set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE TRUE)
  target_link_options(${target} PRIVATE -municode)
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE)
  set(resources ${CMAKE_SOURCE_DIR}/src/platform/win32/resources)
  set(CHATROOM_ICON ${CMAKE_SOURCE_DIR}/packaging/chatroom-server.ico)
  set(CHATROOM_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
  configure_file(${resources}/chatroom-server.manifest.in ${CHATROOM_MANIFEST} @ONLY)
  configure_file(${resources}/chatroom-server.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  # The resource compiler reads the icon and the manifest when it runs: a change of either
  # rebuilds the resources.
  set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${target}.rc PROPERTIES
    OBJECT_DEPENDS "${CHATROOM_ICON};${CHATROOM_MANIFEST}")
endfunction()

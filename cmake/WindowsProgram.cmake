# The Windows program's own settings: a GUI-subsystem executable (no console window opens
# beside it) with the Unicode entry point, wWinMain, so that the command line and everything
# else it starts from arrives as UTF-16. Linked statically by the toolchain file.
#   include(cmake/WindowsProgram.cmake)   then   chatroom_windows_program(chatroom-server)
include_guard(GLOBAL)

function(chatroom_windows_program target)
  set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE TRUE)
  target_link_options(${target} PRIVATE -municode)
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE)
endfunction()

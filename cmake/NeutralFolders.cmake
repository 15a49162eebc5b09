# The subsystem folders are the same on every platform: they may include no window system,
# socket or operating system header. Configuring fails when one does, naming the line, so a
# platform call can only enter through a backend under src/platform/.
set(chatroom_neutral_folders src/runtime src/store src/net src/web src/console src/app src/admin)
set(chatroom_platform_header_pattern
  "#[ \t]*include[ \t]*<(Q[A-Za-z]*|sys/[a-z_]+\\.h|unistd\\.h|poll\\.h|fcntl\\.h|pwd\\.h|glob\\.h|ifaddrs\\.h|iconv\\.h|sqlite3\\.h|netinet/[a-z_]+\\.h|arpa/[a-z]+\\.h|net/if\\.h|windows\\.h|winsock2\\.h|ws2tcpip\\.h|iphlpapi\\.h)>")

function(chatroom_check_neutral_folders)
  foreach(folder ${chatroom_neutral_folders})
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.h ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
    foreach(source ${sources})
      file(STRINGS ${source} hits REGEX "${chatroom_platform_header_pattern}")
      if(hits)
        file(RELATIVE_PATH shown ${CMAKE_SOURCE_DIR} ${source})
        message(FATAL_ERROR "${shown} includes a platform header (${hits}); platform calls belong to a backend under src/platform/")
      endif()
    endforeach()
  endforeach()
endfunction()

# The system's texts travel as code page 936 bytes: on the wire, in reply.ini and in the
# value store. Sources are UTF-8; targets that hold the system's literals compile them to
# CP936 with this one switch, so a literal such as "管理员" is the bytes B9 DC C0 ED D4 B1.
# GB18030 is named rather than CP936 because it is the superset that can also encode the
# few non-ASCII literals of the standard headers (CP936 has no micro sign for <chrono>);
# for the characters this system writes the two give the same bytes.
function(chatroom_cp936_texts target)
  # Clang only knows UTF-8 as execution character set. Only GCC builds ship; clang builds
  # the fuzz targets alone, which never look at the bytes of the system's literals.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    return()
  endif()
  target_compile_options(${target} PRIVATE -finput-charset=UTF-8 -fexec-charset=GB18030)
endfunction()

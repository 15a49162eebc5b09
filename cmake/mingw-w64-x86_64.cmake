# Cross build for 64-bit Windows from Debian with MinGW-w64 (g++-mingw-w64-x86-64-posix).
# The posix flavour is the one whose libstdc++ has std::thread and std::mutex. Everything is
# linked statically, so the executables need no DLL beyond those Windows itself ships (no
# libstdc++-6.dll, libgcc_s_seh-1.dll or libwinpthread-1.dll beside them).
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CHATROOM_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CHATROOM_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CHATROOM_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${CHATROOM_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${CHATROOM_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${CHATROOM_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

# Headers and libraries of the target only; build tools still come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${CHATROOM_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static also takes winpthread from its archive; the two others keep the compiler's own
# runtime libraries out of DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")


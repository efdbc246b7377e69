# Shared by the MinGW-w64 toolchain files, which set QUILLMOTE_MINGW_TRIPLET.
set(CMAKE_SYSTEM_NAME Windows)

# The POSIX threading variants: GoogleTest needs std::mutex, which GCC 12's
# win32 threading model does not have. The tool itself starts no thread.
set(CMAKE_C_COMPILER ${QUILLMOTE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLMOTE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLMOTE_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUILLMOTE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The executables must run from a bare Windows: no libstdc++, libgcc or
# winpthread DLLs to ship beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

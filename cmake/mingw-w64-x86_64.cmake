# Cross build for Windows x64 with Debian's MinGW-w64 (posix threads, for std::thread and
# std::mutex); used for our programs and for the Qt, Boost and GoogleTest they link.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)
set(CMAKE_AR ${_mingw}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${_mingw}-gcc-ranlib-posix CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${_mingw}-objdump CACHE FILEPATH "")

# Headers and libraries come from the MinGW sysroot and from HALVIK_WINDOWS_DEPS, the folder that
# holds Qt, Boost and GoogleTest built for Windows (its prefixes go in CMAKE_PREFIX_PATH);
# programs (moc, uic, rcc) come from the host.
if(NOT HALVIK_WINDOWS_DEPS AND DEFINED ENV{HALVIK_WINDOWS_DEPS})
    set(HALVIK_WINDOWS_DEPS "$ENV{HALVIK_WINDOWS_DEPS}")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES HALVIK_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH /usr/${_mingw} ${HALVIK_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

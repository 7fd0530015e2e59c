# The same 32-bit Windows exe built with Clang, on mingw-w64's headers and libraries.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET i686-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET i686-w64-mingw32)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)

# Clang finds mingw-w64's headers and import libraries but not GCC's own runtime
# directory (libgcc, libstdc++ headers); take both from the mingw-w64 GCC install.
execute_process(COMMAND i686-w64-mingw32-gcc -print-libgcc-file-name
                OUTPUT_VARIABLE KELVOR_LIBGCC OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(KELVOR_GCC_DIR "${KELVOR_LIBGCC}" DIRECTORY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-L${KELVOR_GCC_DIR}")
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
    ${KELVOR_GCC_DIR}/include/c++
    ${KELVOR_GCC_DIR}/include/c++/i686-w64-mingw32
    ${KELVOR_GCC_DIR}/include/c++/backward)

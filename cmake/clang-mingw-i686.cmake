# The same 32-bit Windows exe built with Clang, on mingw-w64's headers and libraries.
# Everything but the compilers is the GCC build's.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET i686-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET i686-w64-mingw32)

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

# kelvor.exe: the core and the Win32 seam, linked without any C runtime. The
# process starts in our own WinMainCRTStartup and imports KERNEL32 only (USER32 is
# loaded when a box is shown).
# Its resources (manifest, version information) come from the resource compiler.
enable_language(RC)
# Size: exe_check holds the GCC build to SIZE_LIMITS in tests/check_exe.py. .text
# and .rdata each fill their last 512-byte step to within a few bytes, so a
# little more code or text costs 512 in the file and fails that check.
# No frame may need stack probes (no runtime library provides them): the one
# large buffer is a static, and a frame of a page or more fails the build.
set(KELVOR_TINY_FLAGS
    -Oz -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
    -fno-stack-protector -ffunction-sections -fno-ident -mno-stack-arg-probe
    -Wframe-larger-than=4095)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # Whole-program inlining across the seam, byte alignment for the message
    # texts instead of 32-byte padding, and arguments pushed rather than stored
    # (GCC stores them only for the sake of stack probes). (Clang's LTO objects
    # would need a linker plugin that mingw-w64's ld lacks.)
    list(APPEND KELVOR_TINY_FLAGS -flto -malign-data=abi -mno-accumulate-outgoing-args)
    # Code is generated at the link: the same flags, warnings as errors again.
    set(KELVOR_LTO_LINK_FLAGS -Oz -flto -mno-stack-arg-probe -mno-accumulate-outgoing-args
        -Wframe-larger-than=4095 -Werror)
endif()
target_compile_options(kelvor_core PRIVATE ${KELVOR_TINY_FLAGS})
target_compile_options(kelvor_cpus_core PRIVATE ${KELVOR_TINY_FLAGS})
# kelvor-cpus.exe alone, each measured to shrink it toward its 8,192 bytes: no
# frame pointer, 4-byte stack alignment (all Win32 asks on x86; no SSE here), no
# hoisting of loop invariants into registers it must then spill, no inlining of a
# function only because it has one caller, no merging of similar tails or of
# variables into one register where that costs moves.
set(KELVOR_CPUS_SIZE_FLAGS
    -fomit-frame-pointer -mpreferred-stack-boundary=2 -fno-tree-loop-im
    -fno-move-loop-invariants -fno-inline-functions-called-once -fno-tree-tail-merge
    -fno-tree-coalesce-vars)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(kelvor_cpus_core PRIVATE ${KELVOR_CPUS_SIZE_FLAGS})
endif()

# kelvor_link_tiny(<target>): the compile and link options every exe of the
# project is built with.
function(kelvor_link_tiny target)
    target_compile_options(${target} PRIVATE ${KELVOR_TINY_FLAGS})
    # No link timestamp and no build paths, so two builds of one tree give the same bytes.
    target_link_options(${target} PRIVATE
        ${KELVOR_LTO_LINK_FLAGS} -nostdlib -s
        -Wl,--entry,_WinMainCRTStartup
        -Wl,--subsystem,windows
        -Wl,--tsaware
        -Wl,--no-seh
        -Wl,--gc-sections
        -Wl,--no-insert-timestamp
        -Wl,--build-id=none)
    # Nothing else: the code needs no helper library (no 64-bit division, no
    # stack probes), so a missing symbol fails the link instead of pulling one in.
    target_link_libraries(${target} PRIVATE kernel32)
endfunction()

# kelvor_add_exe(<target> [<compile definition>...]) builds one launcher exe;
# test builds pass definitions that change how the Win32 seam answers.
function(kelvor_add_exe target)
    add_executable(${target} WIN32
        ${PROJECT_SOURCE_DIR}/src/platform/win32_platform.cpp
        ${PROJECT_SOURCE_DIR}/src/platform/win32_startup.cpp
        ${PROJECT_SOURCE_DIR}/src/platform/win32_resources.rc)
    target_link_libraries(${target} PRIVATE kelvor_core)
    target_compile_definitions(${target} PRIVATE ${ARGN})
    kelvor_link_tiny(${target})
endfunction()

# kelvor_add_cpus_exe(<target>) builds kelvor-cpus.exe, the CPU-layout reader, the
# same way; it imports USER32 too, for the clipboard and its one box.
function(kelvor_add_cpus_exe target)
    add_executable(${target} WIN32
        ${PROJECT_SOURCE_DIR}/src/platform/win32_cpus_platform.cpp
        ${PROJECT_SOURCE_DIR}/src/platform/win32_cpus_startup.cpp
        ${PROJECT_SOURCE_DIR}/src/platform/win32_cpus_resources.rc)
    target_link_libraries(${target} PRIVATE kelvor_cpus_core)
    kelvor_link_tiny(${target})
    target_link_libraries(${target} PRIVATE user32)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        # At the compile and again at the link, where LTO generates the code.
        target_compile_options(${target} PRIVATE ${KELVOR_CPUS_SIZE_FLAGS})
        target_link_options(${target} PRIVATE ${KELVOR_CPUS_SIZE_FLAGS})
    endif()
    # Its own section layout: .rdata inside .text (see the script).
    target_link_options(${target} PRIVATE -Wl,-T,${PROJECT_SOURCE_DIR}/cmake/kelvor-cpus.ld)
    set_target_properties(${target} PROPERTIES LINK_DEPENDS
                          ${PROJECT_SOURCE_DIR}/cmake/kelvor-cpus.ld)
endfunction()

kelvor_add_exe(kelvor)
kelvor_add_cpus_exe(kelvor-cpus)

# What Windows reads from the exe (header flags, imports, manifest, version
# resource) is checked on every build: Wine starts exes that Windows refuses.
# So is the size, but for Clang's larger code only printed. The check reads the exe
# with pefile (Debian's python3-pefile), which only the system Python sees, so
# /usr/bin comes first. A build on Windows without Python makes the exe without it.
enable_testing()
find_program(KELVOR_SYSTEM_PYTHON3 python3 HINTS /usr/bin)
if(KELVOR_SYSTEM_PYTHON3 OR NOT CMAKE_HOST_WIN32)
    add_test(NAME exe_check
        COMMAND ${KELVOR_SYSTEM_PYTHON3} ${PROJECT_SOURCE_DIR}/tests/check_exe.py
                $<TARGET_FILE:kelvor>
                --license ${PROJECT_SOURCE_DIR}/LICENSE --imports KERNEL32.dll
                --compiler ${CMAKE_CXX_COMPILER_ID})
    add_test(NAME exe_check_cpus
        COMMAND ${KELVOR_SYSTEM_PYTHON3} ${PROJECT_SOURCE_DIR}/tests/check_exe.py
                $<TARGET_FILE:kelvor-cpus> --name kelvor-cpus
                --license ${PROJECT_SOURCE_DIR}/LICENSE --imports KERNEL32.dll,USER32.dll
                --compiler ${CMAKE_CXX_COMPILER_ID})
    set_tests_properties(exe_check exe_check_cpus PROPERTIES LABELS exe)
endif()

# kelvor.exe: the core and the Win32 seam, linked without any C runtime. The
# process starts in our own WinMainCRTStartup and imports KERNEL32 and USER32 only.
add_executable(kelvor WIN32
    src/platform/win32_platform.cpp
    src/platform/win32_startup.cpp)
target_link_libraries(kelvor PRIVATE kelvor_core)

set(KELVOR_TINY_FLAGS
    -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
    -fno-stack-protector -ffunction-sections -fdata-sections -fno-ident)
target_compile_options(kelvor_core PRIVATE ${KELVOR_TINY_FLAGS})
target_compile_options(kelvor PRIVATE ${KELVOR_TINY_FLAGS})

# No link timestamp and no build paths, so two builds of one tree give the same bytes.
target_link_options(kelvor PRIVATE
    -nostdlib -s
    -Wl,--entry,_WinMainCRTStartup
    -Wl,--subsystem,windows
    -Wl,--gc-sections
    -Wl,--no-insert-timestamp
    -Wl,--build-id=none)
# libgcc supplies what the compiler calls for itself (64-bit division, stack probes).
target_link_libraries(kelvor PRIVATE kernel32 user32 gcc)
set_target_properties(kelvor PROPERTIES OUTPUT_NAME kelvor SUFFIX .exe)

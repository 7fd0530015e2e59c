// WinMain, the launcher's one entry into its own logic: the start-up calls it
// once with the argument text, and it runs the whole launch.
#pragma once

#if defined(_WIN32) && !defined(_WIN64)
#define KELVOR_WINAPI __stdcall
#else
#define KELVOR_WINAPI
#endif

// The Windows GUI entry. Only the argument text is used; the result is always 0.
extern "C" int KELVOR_WINAPI WinMain(void* instance, void* previousInstance, char* argumentText,
                                     int showCommand);

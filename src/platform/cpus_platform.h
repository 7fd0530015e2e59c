// The seam between kelvor-cpus and Windows: the three things it asks of the
// system, as plain functions over plain types. The exe links the Win32
// implementation; the native tests link one that records every call and plays
// back scripted answers. Nothing here includes windows.h.
#pragma once

#include <cstdint>

namespace cpus_platform {

// GetLogicalProcessorInformationEx(RelationAll) into `answer`, which holds
// *length bytes. True: *length is the bytes written. False: *error is
// GetLastError()'s number and, for ERROR_INSUFFICIENT_BUFFER, *length the need.
bool GetProcessorAnswer(uint8_t* answer, uint32_t* length, uint32_t* error);
// Puts the ASCII `text` of `length` characters on the clipboard as
// CF_UNICODETEXT; false when it did not get there.
bool PutTextOnClipboard(const char* text, int length);
// MessageBoxA without an owner.
void ShowBox(const char* text, const char* caption, uint32_t style);

}  // namespace cpus_platform

// Cuts the launcher's own name off the raw process command line.
#pragma once

// Returns the tail of `commandLine` after the program's name and the blanks that
// follow it (never a copy; empty text when nothing follows; null for null).
char* CutArgumentText(char* commandLine);

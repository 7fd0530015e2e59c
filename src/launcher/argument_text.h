// The argument text: what follows the program's own name on the raw process
// command line. The start-up cuts it and hands it to WinMain; it is never copied.
#pragma once

// Returns the tail of `commandLine` after the program's name and the blanks that
// follow it (never a copy; empty text when nothing follows; null for null).
char* CutArgumentText(char* commandLine);

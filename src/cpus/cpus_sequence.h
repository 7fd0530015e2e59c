// kelvor-cpus's whole run, called once by the start-up.
#pragma once

// Asks Windows for the processor layout, reads it, puts the line on the
// clipboard and shows one box. Returns the exit code, always 0.
int CpusMain();

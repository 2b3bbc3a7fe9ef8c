/* A stand-in setup program for the launcher benchmarks: it ends at once, so
   that a run measures the launcher and the start of a process, nothing else.
   Built without a C runtime to keep its own start as cheap as Windows allows. */
#include <windows.h>

void QuickSetupEntry(void) { ExitProcess(0); }

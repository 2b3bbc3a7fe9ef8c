/* The control: a program that asks for mpr.dll by its plain name, as any
   program does that has not hardened its DLL search. Placed beside the
   planted DLLs, it must load the planted one; otherwise the planted-DLL test
   could not see planting at all. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show) {
  (void)instance; (void)previous; (void)commandLine; (void)show;
  return LoadLibraryW(L"mpr.dll") ? 0 : 1;
}

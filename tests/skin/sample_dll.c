/* A small DLL for the loader tests, built with the i686 mingw-w64 cross compiler without any
   runtime: stdcall and cdecl exports, one export by ordinal only, imports by name and by
   ordinal, and absolute addresses in data and code (base relocations). */
__declspec(dllimport) unsigned long __stdcall GetTickCount(void);
__declspec(dllimport) void __stdcall Sleep(unsigned long milliseconds);
__declspec(dllimport) int HelperByOrdinal(int value);
__declspec(dllimport) int HelperByName(int value);

int counter = 1;
int weights[4] = {3, 5, 7, 11};
int* pointers[] = {&counter, &weights[0], &weights[1], &weights[2], &weights[3]};
const char* greeting = "hello from a mapped image";

int __stdcall DllEntry(void* module, unsigned long reason, void* reserved) {
  (void)module;
  (void)reserved;
  if (reason == 1) counter = 2;
  return 1;
}

int __stdcall AddStd(int a, int b) { return a + b + *pointers[a & 3]; }
int __cdecl AddC(int a, int b) { return a + b + weights[a & 3]; }
int __cdecl Hidden(void) { return HelperByOrdinal(counter) + HelperByName(2); }
unsigned long __stdcall Ticks(void) {
  Sleep(0);
  return GetTickCount();
}
const char* __cdecl Greeting(void) { return greeting; }

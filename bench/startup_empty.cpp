// The floor of any start: a GUI program that returns at once (bench/startup_bench.sh).
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }

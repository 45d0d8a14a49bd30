// Linked into dotfall-hang.exe with -Wl,--wrap=allegro_exit: the run's call
// to shut Allegro down never returns, as a shut-down that hangs for good,
// and the program's watchdog must end the process and put the display mode
// back. Only the tests under Wine run it; the zip does not carry it.
#include <windows.h>

extern "C" void __wrap_allegro_exit(void)
{
	Sleep(INFINITE);
}

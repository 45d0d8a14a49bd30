/* switch-to.exe TITLE: brings the window of that title to the front the way
 * Windows' task switcher (Alt+Tab) does: restored if it was minimised, and
 * the foreground window. For the tests under Wine, whose virtual desktop
 * has no task switcher of its own. Exits with 1 when no window has that
 * title, or it did not come to the front within 5 s. */
#include <windows.h>

int main(int argc, char **argv)
{
	HWND window = argc == 2 ? FindWindowA(NULL, argv[1]) : NULL;
	if (!window)
		return 1;
	/* Wine's SwitchToThisWindow only restores a minimised window; Windows'
	 * also activates it. */
	SwitchToThisWindow(window, TRUE);
	SetForegroundWindow(window);
	for (int i = 0; i < 100 && GetForegroundWindow() != window; i++)
		Sleep(50);
	return GetForegroundWindow() == window ? 0 : 1;
}

/* Windows under the run: Allegro's DirectX drivers, drawing on while the
 * display is not in front, and a shut-down that cannot hang. */
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <allegro.h>
#include <winalleg.h>

#include "settings/settings.h"
#include "shell/platform.h"

/* Allegro's Windows keyboard aborts the process on Ctrl+Alt+End: no
 * shut-down, so a full screen's display mode stays switched, and status 3.
 * Off, those are keys like any other, and end the run as a key does. */
int platform_start(void)
{
	int status = install_allegro(SYSTEM_AUTODETECT, &errno, atexit);
	three_finger_flag = FALSE;
	return status;
}

int graphics_driver(const settings *s)
{
	return s->fullscreen ? GFX_DIRECTX_ACCEL : GFX_DIRECTX_WIN;
}

/* Set in Allegro's window thread as a full screen goes behind another
 * program and comes back to the front; that thread must not draw while the
 * run holds the screen. */
static volatile int switched_out, switched_in;

static void note_switch_out(void)
{
	switched_out = 1;
}

static void note_switch_in(void)
{
	switched_out = 0;
	switched_in = 1;
}

/* Allegro's default pauses drawing whenever the display is not in front,
 * and a full screen paused so stays frozen where no key reaches it. Run on
 * in the background instead, as on X11; full screen only offers that with
 * its picture forgotten (BACKAMNESIA). Away, a full screen draws nothing
 * (TURN_WAIT): Windows loses what it would draw, and Wine copies the
 * program in front into the surface at each lock. Back in front its surface
 * may hold anything, so it is cleared first (TURN_REDRAW). The callbacks go
 * after the mode, which drops them. */
void mode_set(const settings *s, int)
{
	set_display_switch_mode(s->fullscreen ? SWITCH_BACKAMNESIA : SWITCH_BACKGROUND);
	if (s->fullscreen) {
		set_display_switch_callback(SWITCH_OUT, note_switch_out);
		set_display_switch_callback(SWITCH_IN, note_switch_in);
	}
}

/* With DirectX each pixel would otherwise lock the surface on its own and,
 * in a window, copy it out on its own: thousands of pixels a second instead
 * of millions. */
extern const bool HOLD_SCREEN = true;

/* The console's Ctrl+C is Allegro's and the C runtime's matter here: no
 * signal is taken as a key, and the display's window is Allegro's to look
 * after. */
next_turn what_next(void)
{
	if (switched_out)
		return TURN_WAIT;
	if (switched_in) {
		switched_in = 0;
		return TURN_REDRAW;
	}
	return TURN_DRAW;
}

int end_signal(void)
{
	return 0;
}

/* Allegro's DirectX shut-down waits on its window thread, and on a desktop,
 * where the window loses the focus on the way out, that wait can last for
 * good (one such wait is mended in Allegro itself, windows/patches/). The
 * run is over by then, so past EXIT_GRACE_MS the process ends anyway, with
 * the run's status, and says so. The grace is long enough for a shut-down
 * that is only slow, on a busy machine, to finish on its own. A full
 * screen's display mode would then stay switched (Windows puts it back only
 * when Allegro does), so it is put back first. */
#define EXIT_GRACE_MS 10000

/* What the watchdog needs: both fit in the thread's one argument. */
#define END_STATUS(arg) ((UINT)((uintptr_t)(arg) >> 1))
#define END_FULLSCREEN(arg) ((uintptr_t)(arg) & 1)

/* Putting the mode back can hang as well: ChangeDisplaySettings sends
 * every window word of the change and waits on them, and under Wine on a
 * busy machine it may not return. It gets a thread of its own and
 * MODE_BACK_MS; the process ends whether it has returned or not. */
#define MODE_BACK_MS 5000

static DWORD WINAPI put_mode_back(LPVOID)
{
	ChangeDisplaySettings(NULL, 0);
	return 0;
}

static DWORD WINAPI end_anyway(LPVOID arg)
{
	Sleep(EXIT_GRACE_MS);
	HANDLE mode_back = END_FULLSCREEN(arg) ? CreateThread(NULL, 0, put_mode_back, NULL, 0, NULL) : NULL;
	if (mode_back) {
		WaitForSingleObject(mode_back, MODE_BACK_MS);
		CloseHandle(mode_back);
	}
	fputs("dotfall: the display's shut-down hung; ended anyway\n", stderr);
	fflush(stderr);
	TerminateProcess(GetCurrentProcess(), END_STATUS(arg));
	return 0;
}

void platform_end(int status)
{
	bool fullscreen = gfx_driver && !is_windowed_mode();
	uintptr_t arg = (uintptr_t)status << 1 | (fullscreen ? 1 : 0);
	HANDLE watchdog = CreateThread(NULL, 0, end_anyway, (LPVOID)arg, 0, NULL);
	if (watchdog)
		CloseHandle(watchdog);
	/* Allegro's display shut-down unacquires the DirectInput keyboard and
	 * mouse, and their input handlers, finding them unacquired, have the
	 * window thread acquire them again; under Wine such an acquire can
	 * wait for good on DirectInput's own thread, and the keyboard's
	 * shut-down then waits on the window thread. Taken down first, while
	 * the display is up, they have nothing left to acquire. */
	remove_mouse();
	remove_keyboard();
}

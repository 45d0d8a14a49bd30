/* dotfall: draws the triangle fractal by the chaos game until a key is
 * pressed. This is the whole run, start to end, in one pass. */
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <allegro.h>

#include "drawing/chaos.h"
#include "settings/settings.h"

/* The screen is held while a batch of steps draws where that pays: with
 * DirectX, each pixel would otherwise lock the surface on its own and, in a
 * window, copy it out on its own, thousands of pixels a second instead of
 * millions. On X11 each pixel is sent to the server on its own either way,
 * and a hold keeps the library's input thread from the lock it needs to
 * take a key, so that a key ends the run later, at times by a tenth of a
 * second. */
#ifdef ALLEGRO_WINDOWS
#define FULLSCREEN_DRIVER GFX_DIRECTX_ACCEL
#define WINDOWED_DRIVER   GFX_DIRECTX_WIN
#define HOLD_SCREEN 1
#else
#define FULLSCREEN_DRIVER GFX_AUTODETECT_FULLSCREEN
#define WINDOWED_DRIVER   GFX_AUTODETECT_WINDOWED
#define HOLD_SCREEN 0
#endif

/* The signal that asked the run to end, or 0. This is the one variable of
 * our own outside main, because a signal handler can do nothing safely but
 * set a flag of this type, and main must see it. */
static volatile sig_atomic_t signalled;

#ifdef ALLEGRO_WITH_XWINDOWS
#include <cstring>
#include <unistd.h>
#include <X11/Xlib.h>
#include <xalleg.h>

/* INT, TERM and HUP end the run the way a key does; QUIT, the last, keeps
 * its usual meaning: end at once, with a core dump. */
static const int TAKEN[] = { SIGINT, SIGTERM, SIGHUP, SIGQUIT };
#define NTAKEN (int)(sizeof TAKEN / sizeof *TAKEN)

static void note_signal(int sig)
{
	signalled = sig;
}

/* The library's X start-up puts in handlers of its own for INT, TERM and
 * QUIT, which abort when they interrupt a pixel write and otherwise shut
 * the library down inside the handler. Hold the signals back until ours
 * are in, remembering what they were set to before. */
static void hold_signals(struct sigaction *before, sigset_t *mask)
{
	sigset_t held;
	sigemptyset(&held);
	for (int i = 0; i < NTAKEN; i++) {
		sigaction(TAKEN[i], NULL, &before[i]);
		sigaddset(&held, TAKEN[i]);
	}
	sigprocmask(SIG_BLOCK, &held, mask);
}

/* Only sets the flag, which the loop reads at its next turn. A signal that
 * was ignored when we started (nohup, a background job) stays ignored, and
 * QUIT gets back what it had. SA_RESTART keeps the library's own calls from
 * seeing EINTR. Then whatever came in the meantime is let through. */
static void take_signals(const struct sigaction *before, const sigset_t *mask)
{
	struct sigaction note = {};
	note.sa_handler = note_signal;
	note.sa_flags = SA_RESTART;
	sigemptyset(&note.sa_mask);
	if (system_driver && system_driver->id == SYSTEM_XWINDOWS) {
		for (int i = 0; i < NTAKEN - 1; i++)
			sigaction(TAKEN[i], before[i].sa_handler == SIG_IGN ? &before[i] : &note, NULL);
		sigaction(SIGQUIT, &before[NTAKEN - 1], NULL);
	}
	sigprocmask(SIG_SETMASK, mask, NULL);
}

/* When the X server goes away, Xlib's default handler calls exit(), whose
 * handlers include the library's shut-down; that waits for a lock which the
 * interrupted pixel write still holds, and the process hangs. With the
 * display gone there is nothing left to shut down: end at once. */
static int display_lost(Display *)
{
	_exit(1);
}

/* Xlib's default error handler prints and calls exit(), which hangs the same
 * way. The error that comes is nearly always another client destroying our
 * window (a window manager's kill, xdotool): the run ends at once, as when
 * the display goes, with nothing to say. Anything else is printed first. */
static int x_error(Display *dpy, XErrorEvent *e)
{
	if (e->error_code != BadWindow && e->error_code != BadDrawable) {
		char text[128];
		XGetErrorText(dpy, e->error_code, text, sizeof text);
		fprintf(stderr, "X Error: %s (request %d)\n", text, e->request_code);
	}
	_exit(1);
}

/* While the library shuts down, a window it meets already destroyed is no
 * fault: full screen draws on a window of its own, so another client can
 * destroy the managed window while the picture goes on. */
static int x_error_ignored(Display *, XErrorEvent *)
{
	return 0;
}
#endif

#ifdef ALLEGRO_WITH_XWINDOWS
/* Whether the X server is XWayland: newer ones have an extension of that
 * name; 22.1 (Debian 12's) has not, but its VidMode names the monitor so. */
static int on_xwayland(void)
{
	Display *dpy = _xwin.display;
	int op, event, error, found = 0;
	XF86VidModeMonitor m;
	XLOCK();
	if (XQueryExtension(dpy, "XWAYLAND", &op, &event, &error))
		found = 1;
	else if (XF86VidModeQueryExtension(dpy, &event, &error) &&
	         XF86VidModeGetMonitor(dpy, DefaultScreen(dpy), &m)) {
		found = m.model && strcmp(m.model, "XWAYLAND") == 0;
		XFree(m.vendor);
		XFree(m.model);
		XFree(m.hsync);
		XFree(m.vsync);
	}
	XUNLOCK();
	return found;
}

/* The managed window's background is black, and the display is a window
 * inside it: centred once, and kept centred by its gravity, which moves it
 * by half of each change in its parent's size. Larger than the output, it
 * is cropped evenly. The library fixed the window's size (minimum equal to
 * maximum), and mutter will not make such a window full screen: those
 * hints go. */
static void fill_output(void)
{
	Display *dpy = _xwin.display;
	XLOCK();
	XWindowAttributes now;
	XGetWindowAttributes(dpy, _xwin.wm_window, &now);
	XMoveWindow(dpy, _xwin.window, (now.width - SCREEN_W) / 2, (now.height - SCREEN_H) / 2);
	XSetWindowAttributes centred = {};
	centred.win_gravity = CenterGravity;
	XChangeWindowAttributes(dpy, _xwin.window, CWWinGravity, &centred);

	XSizeHints *hints = XAllocSizeHints();
	if (hints) {
		XSetWMNormalHints(dpy, _xwin.wm_window, hints);
		XFree(hints);
	}

	XEvent e = {};
	e.xclient.type = ClientMessage;
	e.xclient.window = _xwin.wm_window;
	e.xclient.message_type = XInternAtom(dpy, "_NET_WM_STATE", False);
	e.xclient.format = 32;
	e.xclient.data.l[0] = 1;   /* add */
	e.xclient.data.l[1] = XInternAtom(dpy, "_NET_WM_STATE_FULLSCREEN", False);
	e.xclient.data.l[3] = 1;   /* asked by the program itself */
	XSendEvent(dpy, DefaultRootWindow(dpy), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
	XFlush(dpy);
	XUNLOCK();
}
#endif

/* The library's full screen is a window of its own over the X screen, which
 * no window manager sees, with the keyboard grabbed and a VidMode switch.
 * Under XWayland that fails: a grab acts only while the compositor gives an
 * X window the keyboard, and GNOME's does not give it that one, so no key
 * ends the run; and XWayland stretches a switched mode over the whole
 * output, whatever its shape. There full screen is the library's window
 * instead, which the window manager is asked to make full screen (EWMH),
 * as other programs do on Wayland desktops; see fill_output. */
static int display_driver(const settings *s)
{
#ifdef ALLEGRO_WITH_XWINDOWS
	if (s->fullscreen && on_xwayland())
		return WINDOWED_DRIVER;
#endif
	return s->fullscreen ? FULLSCREEN_DRIVER : WINDOWED_DRIVER;
}

/* The X11 driver does not check sizes: zero aborts the process, negative
 * sizes "succeed" with nothing visible, and huge ones overflow its buffer
 * arithmetic. Sizes outside 1..MAX_SIDE are refused here instead, as a
 * display the driver cannot set. */
#define MAX_SIDE 16384

#define FAILURE "Error setting graphics mode!"

#ifdef ALLEGRO_WINDOWS
#include <cstdint>
#include <winalleg.h>

/* On a desktop the window loses the focus on the way out, and the library's
 * DirectX shut-down, which waits on its window thread, has been seen to wait
 * for good: the display gone, the process left running. The one such wait
 * we found is mended in the library itself (windows/patches/); for any other
 * the run is over by then, so past EXIT_GRACE_MS the process ends anyway,
 * with the run's status, and says so. */
#define EXIT_GRACE_MS 3000

static DWORD WINAPI end_anyway(LPVOID status)
{
	Sleep(EXIT_GRACE_MS);
	fputs("dotfall: the display's shut-down hung; ended anyway\n", stderr);
	fflush(stderr);
	TerminateProcess(GetCurrentProcess(), (UINT)(uintptr_t)status);
	return 0;
}
#endif

/* Shuts the library down and returns the status; but after a signal the
 * process ends by that signal, so that the shell or service manager that
 * started it sees what happened. allegro_exit has put back the handlers
 * from before the library, not our own or the default action. */
static int end_run(int status)
{
#ifdef ALLEGRO_WITH_XWINDOWS
	XSetErrorHandler(x_error_ignored);
#endif
#ifdef ALLEGRO_WINDOWS
	HANDLE watchdog = CreateThread(NULL, 0, end_anyway, (LPVOID)(uintptr_t)status, 0, NULL);
	if (watchdog)
		CloseHandle(watchdog);
#endif
	allegro_exit();
	if (signalled) {
		signal(signalled, SIG_DFL);
		raise(signalled);
	}
	return status;
}

/* Nobody is left to read the message once a signal asked us to end. */
static int display_failed(void)
{
	/* With no system driver (no display at all) the library prints the text
	 * exactly as given; its X driver ends the line itself. End it here too,
	 * so the message is one whole line on standard output either way. A
	 * message box still gets the text alone. */
	if (!signalled)
		allegro_message(system_driver ? FAILURE : FAILURE "\n");
	return end_run(1);
}

int main(void)
{
	settings s = settings_defaults();
	chaos_state state;
#ifdef ALLEGRO_WITH_XWINDOWS
	struct sigaction before[NTAKEN];
	sigset_t mask;
#endif

	srand((unsigned)time(NULL));
#ifdef SIGPIPE
	/* A write to an X server that has just gone, or of the failure message
	 * to a reader that has gone, fails; it must not kill the process. The
	 * display's loss then ends the run with status 1 (display_lost), and the
	 * message's too. (xmessage, which inherits this, writes nothing there.) */
	signal(SIGPIPE, SIG_IGN);
#endif

	/* The library reads text, the settings file included, as UTF-8 by
	 * default, and its decoder loops forever on some malformed bytes (the
	 * six-byte form FD 9F A5 8B BB B8, for one). The file holds only numbers
	 * and names: plain 8-bit text it is, set before the library starts. */
	set_uformat(U_ASCII);

#ifdef ALLEGRO_WITH_XWINDOWS
	hold_signals(before, &mask);
#endif
	int started = install_allegro(SYSTEM_AUTODETECT, &errno, atexit);
#ifdef ALLEGRO_WITH_XWINDOWS
	take_signals(before, &mask);
#endif
	/* Without a usable display the library's drivers are missing and
	 * everything after this would crash: report it as the display failure. */
	if (started != 0)
		return display_failed();
#ifdef ALLEGRO_WITH_XWINDOWS
	XSetIOErrorHandler(display_lost);
	XSetErrorHandler(x_error);
#endif
	load_settings_file(SETTINGS_FILE);
	install_keyboard();
	install_mouse();

	read_screen_settings(&s);
	if (s.screenw < 1 || s.screenw > MAX_SIDE || s.screenh < 1 || s.screenh > MAX_SIDE)
		return display_failed();
	int driver = display_driver(&s);
	if (set_gfx_mode(driver, s.screenw, s.screenh, 0, 0) != 0)
		return display_failed();
#ifdef ALLEGRO_WITH_XWINDOWS
	if (s.fullscreen && driver == WINDOWED_DRIVER)
		fill_output();
#endif
#ifdef ALLEGRO_WINDOWS
	/* The library's default pauses drawing whenever the display is not in
	 * front, and a full screen paused so stays frozen where no key reaches
	 * it. Draw on in the background instead, as on X11; full screen only
	 * offers that with its picture forgotten (BACKAMNESIA), which is fine:
	 * the figure draws itself again. */
	set_display_switch_mode(s.fullscreen ? SWITCH_BACKAMNESIA : SWITCH_BACKGROUND);
#endif

	/* Everything from here follows the display that was set, which need not
	 * be the size that was asked for. */
	chaos_start(&state, SCREEN_W, SCREEN_H);
	set_display_defaults(&s, SCREEN_W, SCREEN_H);
	read_picture_settings(&s);
	state.points[0] = point{ s.point_1_x, s.point_1_y };
	state.points[1] = point{ s.point_2_x, s.point_2_y };
	state.points[2] = point{ s.point_3_x, s.point_3_y };

	RGB background = { s.background_color_r, s.background_color_g, s.background_color_b, 0 };
	RGB foreground = { s.foreground_color_r, s.foreground_color_g, s.foreground_color_b, 0 };
	set_color(0, &background);
	set_color(1, &foreground);

	/* The steps draw in batches (BATCH_MS): the key and the signal are
	 * looked at between them, as input calls are not allowed while the
	 * screen is held (HOLD_SCREEN). A signal taken during start-up ends the
	 * run here, before any step. */
	while (!keypressed() && !signalled) {
		if (HOLD_SCREEN)
			acquire_screen();
		auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(BATCH_MS);
		do
			for (int i = 0; i < CLOCK_STEPS; i++)
				chaos_step(&state);
		while (std::chrono::steady_clock::now() < end);
		if (HOLD_SCREEN)
			release_screen();
	}

	return end_run(0);
}
END_OF_MAIN()

/* The X Window System under the run: signals taken as a key, the X server's
 * errors and loss, and full screen where the library's own does not work. */
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <allegro.h>
#include <xalleg.h>
#include <X11/Xlib.h>

#include "settings/settings.h"
#include "shell/platform.h"

/* The signal that asked the run to end, or 0. This is the one variable of
 * our own outside a function, because a signal handler can do nothing
 * safely but set a flag of this type, and the run must see it. */
static volatile sig_atomic_t signalled;

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

int platform_start(void)
{
	/* A write to an X server that has just gone, or of the failure message
	 * to a reader that has gone, fails; it must not kill the process. The
	 * display's loss then ends the run with status 1 (display_lost), and the
	 * message's too. (xmessage, which inherits this, writes nothing there.) */
	signal(SIGPIPE, SIG_IGN);

	struct sigaction before[NTAKEN];
	sigset_t mask;
	hold_signals(before, &mask);
	int started = install_allegro(SYSTEM_AUTODETECT, &errno, atexit);
	take_signals(before, &mask);
	if (started == 0) {
		XSetIOErrorHandler(display_lost);
		XSetErrorHandler(x_error);
	}
	return started;
}

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

/* The library's full screen is a window of its own over the X screen, which
 * no window manager sees, with the keyboard grabbed and a VidMode switch.
 * Under XWayland that fails: a grab acts only while the compositor gives an
 * X window the keyboard, and GNOME's does not give it that one, so no key
 * ends the run; and XWayland stretches a switched mode over the whole
 * output, whatever its shape. There full screen is the library's window
 * instead, which the window manager is asked to make full screen (EWMH),
 * as other programs do on Wayland desktops; see fill_output. */
int display_driver(const settings *s)
{
	if (s->fullscreen && !on_xwayland())
		return GFX_AUTODETECT_FULLSCREEN;
	return GFX_AUTODETECT_WINDOWED;
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

void display_set(const settings *s, int driver)
{
	if (s->fullscreen && driver == GFX_AUTODETECT_WINDOWED)
		fill_output();
}

/* Each pixel is sent to the server on its own whether the screen is held or
 * not, and a hold keeps the library's input thread from the lock it needs
 * to take a key, so that a key ends the run later, at times by a tenth of a
 * second. */
bool hold_screen(void)
{
	return false;
}

int end_signal(void)
{
	return signalled;
}

void platform_end(int)
{
	XSetErrorHandler(x_error_ignored);
}

/* The X Window System under the run, through Allegro's X11 driver and its
 * internals (_xwin, XLOCK, _xwin_input_handler): signals taken as a key,
 * the X server's errors and loss, full screen through the window manager
 * wherever one offers it, and dotfall's own name and icon on its windows. */
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <unistd.h>
#include <allegro.h>
#include <xalleg.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xlib-xcb.h>   /* XGetXCBConnection */
#include <xcb/xcbext.h>     /* xcb_poll_for_reply */
#include <X11/Xlibint.h>   /* XESetWireToEvent */
#include <X11/Xproto.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>

#include "icons.h"   /* made by the build from data/icons */
#include "settings/settings.h"
#include "shell/platform.h"

/* Allegro puts this picture in its window's WM_HINTS as the icon, once the
 * program defines it (Allegro's own way to name a program's icon): the
 * menu's icon, not Allegro's. */
extern "C" {
void *allegro_icon = (void *)icon_xpm;
}

/* The signal that asked the run to end, or 0; whether an X error told of
 * the window's loss (x_error); and whether the server refused Allegro's
 * keyboard control, as it does an untrusted connection (ssh -X). These are
 * variables of our own outside a function (with those below) because a
 * signal handler and an Xlib error handler can do nothing safely but set a
 * flag, and the run must see it. */
static volatile sig_atomic_t signalled;
static std::atomic<bool> window_lost;
static std::atomic<bool> untrusted;

/* The managed window's size as the server last told it (a ConfigureNotify,
 * seen by size_seen as Xlib reads it, whoever reads it), and whether the
 * display is kept in its middle (fill_output). Xlib's event hook and
 * Allegro's input turn take no argument of ours; both run with the display
 * locked (XLOCK). */
static struct {
	bool follow, changed;
	int width, height;
} managed;
static Bool (*wire_to_event)(Display *, XEvent *, xEvent *);

/* The atoms the run names, asked for together at the start: one round trip
 * for all, which on a slow link is what counts. */
static struct {
	Atom icon, check, supported, state, fullscreen;
} atom;

/* The properties that tell of a window manager (EWMH), asked for through
 * the connection's XCB side, which unlike Xlib's calls need not wait for a
 * reply: the root's at the start, and the check window's it names as soon
 * as that reply is in (ask_check_window). The replies come in during
 * Allegro's own round trips (the keyboard's, the mouse's), and
 * graphics_driver reads them: on a slow link it waits for none. A window
 * leaves them unread, and the connection's end frees them. */
static struct {
	xcb_get_property_cookie_t check, supported, self;
	bool self_asked;
	uint32_t named;   /* the check window the root names, or 0 */
} manager;

/* Where the pointer was at the start: Allegro's full screen moves it to
 * the display's middle and keeps it there, and it goes back at the end. */
static struct {
	bool known;
	int x, y;
} pointer_before;

/* INT, TERM and HUP end the run the way a key does; QUIT, the last, keeps
 * its usual meaning: end at once, with a core dump. */
static const int TAKEN[] = { SIGINT, SIGTERM, SIGHUP, SIGQUIT };
#define NTAKEN (int)(sizeof TAKEN / sizeof *TAKEN)

static void note_signal(int sig)
{
	signalled = sig;
}

/* Allegro's X start-up puts in handlers of its own for INT, TERM and
 * QUIT, which abort when they interrupt a pixel write and otherwise shut
 * Allegro down inside the handler. Hold the signals back until ours
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
 * QUIT gets back what it had. SA_RESTART keeps Allegro's own calls from
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
 * handlers include Allegro's shut-down; that waits for the lock (XLOCK)
 * which the interrupted pixel write still holds, and the process hangs.
 * With the display gone there is nothing left to shut down: end at once. */
static int server_lost(Display *)
{
	_exit(1);
}

/* Xlib's default error handler prints and calls exit(), which hangs the same
 * way. Only the loss of dotfall's own windows ends the run: an error that
 * names one of them (Allegro's managed window _xwin.wm_window, the display
 * _xwin.window inside it, or its full-screen _xwin.fs_window), as when
 * another client destroys it (a window manager's kill, xdotool). Any other
 * error is survived, and says nothing: an untrusted connection (ssh -X) is
 * refused Allegro's keyboard control (request 102), its grabs and the
 * extensions it asks for, and the run draws on without them. The handler
 * may make no request: it notes the loss, and the run ends through Allegro's
 * usual shut-down, which puts back a mode it switched. */
static int x_error(Display *, XErrorEvent *e)
{
	if (e->error_code == BadAccess && e->request_code == X_ChangeKeyboardControl)
		untrusted = true;
	XID id = e->resourceid;
	bool ours = id != None && (id == _xwin.wm_window || id == _xwin.window || id == _xwin.fs_window);
	if (ours && (e->error_code == BadWindow || e->error_code == BadDrawable))
		window_lost = true;
	return 0;
}

/* While Allegro shuts down, a window it meets already destroyed is no
 * fault: full screen draws on a window of its own, so another client can
 * destroy the managed window while the picture goes on. */
static int x_error_ignored(Display *, XErrorEvent *)
{
	return 0;
}

/* A property's 32-bit items, from its reply (freed here); none where it
 * is not of that type, or where the window has gone. */
static std::vector<uint32_t> items(xcb_get_property_reply_t *r, Atom type)
{
	std::vector<uint32_t> got;
	if (r && r->type == type && r->format == 32) {
		const uint32_t *p = (const uint32_t *)xcb_get_property_value(r);
		got.assign(p, p + xcb_get_property_value_length(r) / 4);
	}
	free(r);
	return got;
}

/* The reply waited for; an error comes back here, not to x_error. */
static std::vector<uint32_t> property(xcb_connection_t *c, xcb_get_property_cookie_t asked, Atom type)
{
	xcb_generic_error_t *error = nullptr;
	xcb_get_property_reply_t *r = xcb_get_property_reply(c, asked, &error);
	free(error);
	return items(r, type);
}

static xcb_get_property_cookie_t ask_property(xcb_connection_t *c, Window w, Atom name, Atom type)
{
	return xcb_get_property(c, 0, (xcb_window_t)w, (xcb_atom_t)name, (xcb_atom_t)type, 0, 4096);
}

/* Asks for the check window's own property once the root's reply has named
 * the window: from input_turn only if the reply has come, from
 * graphics_driver (`wait`) at any rate. */
static void ask_check_window(xcb_connection_t *c, bool wait)
{
	if (manager.self_asked)
		return;
	std::vector<uint32_t> check;
	if (wait) {
		check = property(c, manager.check, XA_WINDOW);
	} else {
		void *r = nullptr;
		xcb_generic_error_t *error = nullptr;
		if (!xcb_poll_for_reply(c, manager.check.sequence, &r, &error))
			return;
		free(error);
		check = items((xcb_get_property_reply_t *)r, XA_WINDOW);
	}
	manager.named = check.empty() ? 0 : check[0];
	if (manager.named)
		manager.self = ask_property(c, manager.named, atom.check, XA_WINDOW);
	manager.self_asked = true;
	xcb_flush(c);
}

/* Whether a window manager runs that makes windows full screen itself
 * (EWMH): the root names its check window, which names itself (and so is no
 * window left behind by a manager that has gone), and full screen is among
 * the states it supports. */
static bool manager_fills_screen(Display *dpy)
{
	xcb_connection_t *c = XGetXCBConnection(dpy);
	ask_check_window(c, true);
	std::vector<uint32_t> states = property(c, manager.supported, XA_ATOM);
	bool live = manager.named && property(c, manager.self, XA_WINDOW) == std::vector<uint32_t>{ manager.named };
	return live && std::find(states.begin(), states.end(), atom.fullscreen) != states.end();
}

/* The managed window is dotfall's on every desktop: its class (Allegro
 * sets its own, and the one asked for only on the inner window) and its
 * icon at each size, for task bars and window switchers. */
static void name_window(void)
{
	Display *dpy = _xwin.display;
	xwin_set_window_name("dotfall", "dotfall");
	XLOCK();
	XClassHint hint = { (char *)"dotfall", (char *)"dotfall" };
	XSetClassHint(dpy, _xwin.wm_window, &hint);
	std::vector<unsigned long> icon;
	for (auto &image : ICONS) {
		icon.push_back(image.side);
		icon.push_back(image.side);
		for (int i = 0; i < image.side * image.side; i++) {
			const unsigned char *p = image.rgba + 4 * i;
			icon.push_back((unsigned long)p[3] << 24 | p[0] << 16 | p[1] << 8 | p[2]);
		}
	}
	XChangeProperty(dpy, _xwin.wm_window, atom.icon, XA_CARDINAL, 32, PropModeReplace,
	                (unsigned char *)icon.data(), (int)icon.size());
	XUNLOCK();
}

static void note_pointer(void)
{
	Window root, child;
	int x, y;
	unsigned buttons;
	XLOCK();
	pointer_before.known = XQueryPointer(_xwin.display, DefaultRootWindow(_xwin.display), &root, &child,
	                                     &pointer_before.x, &pointer_before.y, &x, &y, &buttons);
	XUNLOCK();
}

/* Every event passes here as Xlib reads it off the wire, whichever thread
 * and call reads it: Allegro's input turn reads the queue too, and drops a
 * ConfigureNotify it has no use for. */
static Bool size_seen(Display *dpy, XEvent *e, xEvent *wire)
{
	Bool keep = wire_to_event(dpy, e, wire);
	if (e->type == ConfigureNotify && e->xconfigure.window == _xwin.wm_window) {
		managed.width = e->xconfigure.width;
		managed.height = e->xconfigure.height;
		managed.changed = true;
	}
	return keep;
}

static void input_turn(void);

int platform_start(void)
{
	/* A write to an X server that has just gone, or of the failure message
	 * to a reader that has gone, fails; it must not kill the process. The
	 * server's loss then ends the run with status 1 (server_lost), and the
	 * message's too. (xmessage, which inherits this, writes nothing there.) */
	signal(SIGPIPE, SIG_IGN);

	struct sigaction before[NTAKEN];
	sigset_t mask;
	hold_signals(before, &mask);
	int started = install_allegro(SYSTEM_AUTODETECT, &errno, atexit);
	take_signals(before, &mask);
	/* Allegro's X keyboard raises TERM at the process on Ctrl+Alt+End
	 * (three_finger_flag), which would end the run as a signal, status 143.
	 * Off, those are keys like any other, as on Windows. */
	three_finger_flag = FALSE;
	if (started == 0) {
		XSetIOErrorHandler(server_lost);
		XSetErrorHandler(x_error);
		XLOCK();
		Display *dpy = _xwin.display;
		const char *names[] = { "_NET_WM_ICON", "_NET_SUPPORTING_WM_CHECK", "_NET_SUPPORTED", "_NET_WM_STATE",
		                        "_NET_WM_STATE_FULLSCREEN" };
		Atom got[5];
		if (XInternAtoms(dpy, (char **)names, 5, False, got))
			atom = { got[0], got[1], got[2], got[3], got[4] };
		xcb_connection_t *c = XGetXCBConnection(dpy);
		manager.check = ask_property(c, DefaultRootWindow(dpy), atom.check, XA_WINDOW);
		manager.supported = ask_property(c, DefaultRootWindow(dpy), atom.supported, XA_ATOM);
		xcb_flush(c);
		wire_to_event = XESetWireToEvent(dpy, ConfigureNotify, size_seen);
		_xwin_input_handler = input_turn;
		XUNLOCK();
		name_window();
	}
	return started;
}

/* Allegro's full screen is a window of its own over the X screen, which
 * no window manager sees, with the keyboard grabbed and a VidMode switch.
 * On a desktop that switch rearranges it: the drivers people use give every
 * monitor the mode at 0,0, window managers squeeze the windows into it, and
 * two monitors are left mirrored after the run. Under XWayland it is worse:
 * the compositor may give the grab no keys, and stretches the mode over the
 * output. Wherever a window manager makes windows full screen itself (Xorg
 * desktops, and Wayland ones through XWayland), full screen is Allegro's
 * window, which it is asked to fill (see fill_output): on its own monitor,
 * nothing else moved. Allegro's own is left for a bare X server. */
int graphics_driver(const settings *s)
{
	if (!s->fullscreen)
		return GFX_AUTODETECT_WINDOWED;
	XLOCK();
	bool by_manager = manager_fills_screen(_xwin.display);
	XUNLOCK();
	if (!by_manager) {
		note_pointer();
		return GFX_AUTODETECT_FULLSCREEN;
	}
	/* The server passes on no event of an untrusted client's to the window
	 * manager, fill_output's request included; but a window mapped with
	 * full screen already in its state starts full screen (EWMH). Only
	 * there: mutter, given the state before the map, leaves the display off
	 * the middle. The server's refusal of Allegro's keyboard control
	 * (install_keyboard, before this) has come in by now: Xlib took it in
	 * before the reply to the mouse's next request (install_mouse). */
	if (untrusted) {
		XLOCK();
		XChangeProperty(_xwin.display, _xwin.wm_window, atom.state, XA_ATOM, 32, PropModeReplace,
		                (unsigned char *)&atom.fullscreen, 1);
		XUNLOCK();
	}
	return GFX_AUTODETECT_WINDOWED;
}

/* Allegro counts the turns of its warped pointer mode (MOUSE_WARP_DELAY
 * in its xwin.c) and moves the X pointer when they are over. */
#define WARP_TURNS 200

/* Takes the first queued event off here if all Allegro's input turn
 * would do with it is nothing, or draw an exposed part of the display
 * again (_xwin_window_redrawer, as it does): the window manager's
 * properties on the window, its reparenting, sizing and moving of it
 * (size_seen has taken the size), the black around a full-screen display
 * exposed. A MapNotify is left in the queue: Allegro waits for it when it
 * maps a window. */
static bool taken_here(Display *dpy)
{
	XEvent e;
	XPeekEvent(dpy, &e);
	switch (e.type) {
	case Expose:
		if (e.xexpose.window == _xwin.window)
			(*_xwin_window_redrawer)(e.xexpose.x, e.xexpose.y, e.xexpose.width, e.xexpose.height);
		break;
	case PropertyNotify:
	case ConfigureNotify:
	case ReparentNotify:
	case GravityNotify:
		break;
	default:
		return false;
	}
	XNextEvent(dpy, &e);
	return true;
}

/* Allegro's input turn (_xwin_private_handle_input in its xwin.c, every
 * 10 ms or so from its background thread, with the display locked by
 * XLOCK) starts with an XSync: a round trip, during which no pixel can be
 * sent, on every turn whether or not anything came. Ours calls it only when
 * there is something for it: events (read without waiting for the server,
 * with XEventsQueued and QueuedAfterFlush, which also sends the pixels
 * buffered so far) other than those taken here, or the end of Allegro's
 * warped pointer mode, whose count it goes on with here meanwhile. An X
 * error comes in with the events, and so does the display's loss. Then,
 * when the window manager has resized the full-screen window (its first
 * size, a monitor changed, KWin's odd sizes), the display is centred again
 * in the size it has now, which the gravity alone misses by the pixel it
 * rounds off at each change. */
static void input_turn(void)
{
	Display *dpy = _xwin.display;
	int queued = XEventsQueued(dpy, QueuedAfterFlush);
	ask_check_window(XGetXCBConnection(dpy), false);
	while (queued > 0 && taken_here(dpy))
		queued--;
	if (queued > 0 || _xwin.mouse_warped > WARP_TURNS)
		_xwin_private_handle_input();
	else if (_xwin.mouse_warped)
		_xwin.mouse_warped++;
	if (managed.follow && managed.changed) {
		managed.changed = false;
		XMoveWindow(_xwin.display, _xwin.window, (managed.width - SCREEN_W) / 2,
		            (managed.height - SCREEN_H) / 2);
	}
}

/* The managed window's background is black, and the display is a window
 * inside it, kept centred (input_turn, from every size the server gives
 * since the window was made, and its gravity in between). Larger than the
 * monitor, it is cropped evenly. Allegro fixed the window's size (minimum
 * equal to maximum), and mutter will not make such a window full screen:
 * those hints go. The pointer is hidden over the black around the display
 * too. Nothing here waits for the server. */
static void fill_output(void)
{
	Display *dpy = _xwin.display;
	XLOCK();
	managed.follow = true;
	XSetWindowAttributes centred = {};
	centred.win_gravity = CenterGravity;
	XChangeWindowAttributes(dpy, _xwin.window, CWWinGravity, &centred);
	XDefineCursor(dpy, _xwin.wm_window, _xwin.cursor);

	XSizeHints *hints = XAllocSizeHints();
	if (hints) {
		XSetWMNormalHints(dpy, _xwin.wm_window, hints);
		XFree(hints);
	}

	XEvent e = {};
	e.xclient.type = ClientMessage;
	e.xclient.window = _xwin.wm_window;
	e.xclient.message_type = atom.state;
	e.xclient.format = 32;
	e.xclient.data.l[0] = 1;   /* add */
	e.xclient.data.l[1] = atom.fullscreen;
	e.xclient.data.l[3] = 1;   /* asked by the program itself */
	XSendEvent(dpy, DefaultRootWindow(dpy), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
	XFlush(dpy);
	XUNLOCK();
}

/* The primary monitor (RandR 1.5), or Xinerama's first head, or the whole
 * X screen where the server tells of neither. */
static XRectangle primary_monitor(Display *dpy)
{
	XRectangle r = { 0, 0, (unsigned short)DisplayWidth(dpy, DefaultScreen(dpy)),
	                 (unsigned short)DisplayHeight(dpy, DefaultScreen(dpy)) };
	/* Each extension is asked of the server first: libXrandr and
	 * libXinerama keep a record per display that XCloseDisplay never frees
	 * when the server hides the extension, as it does from an untrusted
	 * client (ssh -X). */
	int op, event, error, major = 0, minor = 0, n = 0;
	if (XQueryExtension(dpy, "RANDR", &op, &event, &error) && XRRQueryVersion(dpy, &major, &minor) &&
	    (major > 1 || minor >= 5)) {
		XRRMonitorInfo *m = XRRGetMonitors(dpy, DefaultRootWindow(dpy), True, &n);
		int pick = 0;
		for (int i = 0; i < n; i++)
			if (m[i].primary)
				pick = i;
		if (m && n > 0)
			r = { (short)m[pick].x, (short)m[pick].y, (unsigned short)m[pick].width,
			      (unsigned short)m[pick].height };
		if (m)
			XRRFreeMonitors(m);
	} else if (XQueryExtension(dpy, "XINERAMA", &op, &event, &error) && XineramaIsActive(dpy)) {
		XineramaScreenInfo *heads = XineramaQueryScreens(dpy, &n);
		if (heads && n > 0)
			r = { heads[0].x_org, heads[0].y_org, (unsigned short)heads[0].width,
			      (unsigned short)heads[0].height };
		if (heads)
			XFree(heads);
	}
	return r;
}

/* Allegro centres its full-screen display on the whole X screen, which
 * on two monitors puts it across the seam between them: it goes to the
 * middle of one monitor instead. After a mode switch the display is at the
 * switched mode's viewport, at 0,0, and stays there. */
static void centre_on_monitor(void)
{
	if (_xwin.mode_switched)
		return;
	Display *dpy = _xwin.display;
	XLOCK();
	XRectangle m = primary_monitor(dpy);
	XMoveWindow(dpy, _xwin.window, m.x + (m.width - SCREEN_W) / 2, m.y + (m.height - SCREEN_H) / 2);
	XFlush(dpy);
	XUNLOCK();
}

void mode_set(const settings *s, int driver)
{
	if (s->fullscreen && driver == GFX_AUTODETECT_WINDOWED)
		fill_output();
	else if (s->fullscreen)
		centre_on_monitor();
}

/* Each pixel is sent to the server on its own whether the screen is held
 * or not, and a hold keeps Allegro's input thread from the lock (XLOCK) it
 * needs to take a key, so that a key would end the run later. The X server
 * keeps the display's picture, or asks Allegro to draw it again, which it
 * does itself; a window behind others draws on. */
extern const bool HOLD_SCREEN = false;

next_turn what_next(void)
{
	if (window_lost)
		return TURN_WINDOW_LOST;
	if (signalled)
		return TURN_END;
	return TURN_DRAW;
}

int end_signal(void)
{
	return signalled;
}

/* Once the run is over, the input thread has nothing left to read, and the
 * window nothing to show. */
static void input_over(void)
{
}

static void no_window_defaults(void)
{
}

/* Allegro lets go of the pointer only in its shut-down, and a pointer
 * confined to the display cannot be put back: let go of it here. Allegro's
 * shut-down would still read input on every turn (each with an XSync) and
 * give its window its name and icon again, twice (the icon's colours are
 * round trips): on a slow link each round trip delays the end by its
 * time, and the windows are destroyed with the connection anyway. Its own
 * steps that matter (the grabs let go, a switched mode put back) stay. */
void platform_end(int)
{
	XLOCK();
	if (_xwin_input_handler == input_turn)
		_xwin_input_handler = input_over;
	_xwin_window_defaultor = no_window_defaults;
	XSetErrorHandler(x_error_ignored);
	if (_xwin.mouse_grabbed && pointer_before.known) {
		XUngrabPointer(_xwin.display, CurrentTime);
		_xwin.mouse_grabbed = 0;
		XWarpPointer(_xwin.display, None, DefaultRootWindow(_xwin.display), 0, 0, 0, 0, pointer_before.x,
		             pointer_before.y);
	}
	/* The managed window leaves the screen as soon as the server reads
	 * this, not a round trip or two later with the rest of the shut-down.
	 * Allegro's own full screen stays until its mode is back. */
	if (_xwin.display && _xwin.wm_window != None && _xwin.fs_window == None)
		XUnmapWindow(_xwin.display, _xwin.wm_window);
	if (_xwin.display)
		XFlush(_xwin.display);
	XUNLOCK();
}

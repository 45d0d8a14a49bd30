// Xephyr, an X server in a window on the server below, of the size asked for:
// programs and tests use it, and the server below draws its every request.
#include "desktop.h"

static bool start(desktop *d)
{
	// It is a client of the server below, with that server's cookie, which
	// its programs keep. The connection to the server below goes first:
	// Xlib would end the tests when that server goes with the desktop.
	const std::vector<std::string> below = d->env;
	d->env.erase(std::remove(d->env.begin(), d->env.end(), "DISPLAY=" + d->display), d->env.end());
	XCloseDisplay(std::exchange(d->dpy, nullptr));
	d->display.clear();
	return x_server(d, { "Xephyr", "-screen", d->size(), "-nolisten", "tcp" }, below);
}

const layer XEPHYR = { "Xephyr", SIZED, start };

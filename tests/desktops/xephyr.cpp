// Xephyr, an X server in a window on the server below, of the size asked for:
// programs and tests use it, and the server below draws its every request.
#include "desktop.h"

static bool start(desktop *d)
{
	// A client below with that server's cookie, which its programs keep. The
	// tests' connection below goes first: Xlib would end the tests as it goes.
	const std::vector<std::string> below = d->env;
	d->env.erase(std::remove(d->env.begin(), d->env.end(), "DISPLAY=" + d->display), d->env.end());
	XCloseDisplay(std::exchange(d->dpy, nullptr));
	d->display.clear();
	return x_server(d, { "Xephyr", "-screen", d->size(), "-nolisten", "tcp" }, below);
}

const layer XEPHYR = { "Xephyr", SIZED, start };

// Xephyr, an X server nested in a window on the server below, its screen of
// the size the test asks for: the programs and the tests' connection are on
// Xephyr, whose every request the server below draws again.
#include <algorithm>

#include "desktop.h"

static bool start(desktop *d)
{
	// The connection to the server below goes first: Xlib would end the
	// tests when that server goes with the desktop.
	// It is a client of the server below, with that server's cookie.
	std::vector<std::string> env{ "DISPLAY=" + d->display };
	for (const std::string &e : d->env)
		if (e.rfind("XAUTHORITY=", 0) == 0)
			env.push_back(e);
	XCloseDisplay(d->dpy);
	d->dpy = nullptr;
	d->display.clear();
	d->env.erase(std::remove_if(d->env.begin(), d->env.end(),
	                            [](const std::string &e) { return e.rfind("DISPLAY=", 0) == 0; }),
	             d->env.end());
	const std::string size = std::to_string(d->width) + "x" + std::to_string(d->height);
	return x_server(d, { "Xephyr", "-screen", size, "-nolisten", "tcp" }, env);
}

const layer XEPHYR = { "Xephyr", SIZED, start };

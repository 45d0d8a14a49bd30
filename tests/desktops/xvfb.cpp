// Xvfb: the bare X server of most tests, its one screen of the size the
// test asks for, no window manager.
#include "desktop.h"

static bool start(desktop *d)
{
	const std::string size = std::to_string(d->width) + "x" + std::to_string(d->height) + "x24";
	return x_server(d, { "Xvfb", "-screen", "0", size, "-nolisten", "tcp" });
}

const layer XVFB = { "Xvfb", SIZED, start, nullptr, nullptr, nullptr, nullptr };

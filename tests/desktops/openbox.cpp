// openbox, the window manager on the X server below.
#include "desktop.h"

static bool start(desktop *d)
{
	return window_manager(d, { "openbox", "--sm-disable" });
}

const layer OPENBOX = { "openbox", MANAGED, start };

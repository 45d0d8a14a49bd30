// openbox, the window manager on the X server below.
#include "desktop.h"

static bool start(desktop *d)
{
	d->groups.push_back(spawn({ "openbox", "--sm-disable" }, { "/", d->env, false, 0, -1, -1, true }));
	return manager_ready(d);
}

const layer OPENBOX = { "openbox", MANAGED, start };

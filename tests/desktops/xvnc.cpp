// TigerVNC's Xvnc: an X server of its own, as Xvfb is, that keeps its
// picture for VNC viewers (on localhost, none connected here), its one
// screen of the size the test asks for.
#include "desktop.h"

static bool start(desktop *d)
{
	return x_server(d, { "Xvnc", "-geometry", d->size(), "-depth", "24", "-SecurityTypes", "None", "-localhost",
	                     "-nolisten", "tcp" });
}

const layer XVNC = { "Xvnc", SIZED, start };

// TigerVNC's Xvnc: an X server like Xvfb, of the size asked for, keeping its
// picture for VNC viewers (on localhost; none connected here).
#include "desktop.h"

static bool start(desktop *d)
{
	return x_server(d, { "Xvnc", "-geometry", d->size(), "-depth", "24", "-SecurityTypes", "None", "-localhost",
	                     "-nolisten", "tcp" });
}

const layer XVNC = { "Xvnc", SIZED, start };

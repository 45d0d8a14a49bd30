// Xorg, root only, with the dummy driver (desktops/xorg.conf), headless as a
// desktop's: one monitor or two side by side (the first primary), socket or TCP.
#include "desktop.h"

static bool start(desktop *d)
{
	d->display = d->s->remote ? "localhost" : "";
	if (!x_server(d, { "Xorg", "-noreset", d->s->remote ? "-listen" : "-nolisten", "tcp", "-config", XORG_CONF,
	                   "-logfile", (d->files / "xorg.log").string() }))
		return false;
	if (d->s->monitors > 1 &&
	    (tool({ "xrandr", "--addmode", "DUMMY1", "1920x1080" }, d->env) != 0 ||
	     tool({ "xrandr", "--fb", "3840x1080", "--output", "DUMMY0", "--mode", "1920x1080", "--pos", "0x0",
	            "--primary", "--output", "DUMMY1", "--mode", "1920x1080", "--pos", "1920x0" }, d->env) != 0 ||
	     monitors(d->dpy).size() != 2))
		return failed(d, "Xorg's two monitors could not be laid out");
	return true;
}

const layer XORG = { "Xorg", MODE_SWITCH | MODES, start };

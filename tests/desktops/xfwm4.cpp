// xfwm4, Xfce's window manager, compositing, in a D-Bus session of its own
// (which brings its settings daemon), its settings in the desktop's folder.
#include "desktop.h"

static bool start(desktop *d)
{
	return window_manager(d, { "dbus-run-session", "--", "xfwm4", "--compositor=on", "--sm-client-disable" },
	                      { "HOME=" + d->files.string(), "XDG_CONFIG_HOME=" + d->files.string(), "NO_AT_BRIDGE=1" });
}

const layer XFWM4 = { "xfwm4", MANAGED, start };

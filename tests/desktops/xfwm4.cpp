// xfwm4, Xfce's window manager, with its compositor on, in a D-Bus session
// of its own (which brings its settings daemon), its settings in the
// desktop's folder rather than the user's.
#include "desktop.h"

static bool start(desktop *d)
{
	std::vector<std::string> env = d->env;
	env.insert(env.end(), { "HOME=" + d->files.string(), "XDG_CONFIG_HOME=" + d->files.string(), "NO_AT_BRIDGE=1" });
	d->groups.push_back(spawn({ "dbus-run-session", "--", "xfwm4", "--compositor=on", "--sm-client-disable" },
	                          { "/", env, false, 0, -1, -1, true }));
	return manager_ready(d);
}

const layer XFWM4 = { "xfwm4", MANAGED, start };

// What the Wayland compositors share: a user, a runtime folder, their XWayland.
#include "desktop.h"

bool compositor(desktop *d, const std::vector<std::string> &argv, const std::vector<std::string> &env,
                std::function<bool(const std::string &log)> up)
{
	d->user = geteuid() == 0 ? 65534 : 0;
	const fs::path log = d->files / "log";
	const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
	if (d->user && (chown(d->files.c_str(), d->user, d->user) != 0 || fchown(fd, d->user, d->user) != 0))
		return failed(d, "cannot give the runtime folder to user " + std::to_string(d->user));
	std::vector<std::string> all{ "PATH=/usr/bin:/bin", "HOME=" + d->files.string(),
	                              "XDG_RUNTIME_DIR=" + d->files.string() };
	all.insert(all.end(), env.begin(), env.end());
	const pid_t pid = spawn(argv, { d->files, all, true, d->user, fd, -1, true });
	close(fd);
	d->groups.push_back(pid);
	if (!wait_for(START_SECONDS, [&] { return up(slurp(log)) || waitpid(pid, nullptr, WNOHANG) == pid; }) ||
	    d->display.empty())
		return failed(d, argv[0] + " did not come up: " + slurp(log));
	// XWayland takes clients of the compositor's user (and, on mutter, the
	// holders of its cookie): connect as that user.
	if (!d->xauthority.empty())
		setenv("XAUTHORITY", d->xauthority.c_str(), 1);
	wait_for(START_SECONDS, [&] { return as_user(d, [&] { return (d->dpy = XOpenDisplay(d->display.c_str())); }); });
	unsetenv("XAUTHORITY");
	if (!d->dpy)
		return failed(d, "no connection to the XWayland " + d->display + ": " + slurp(log));
	d->env = { "XDG_RUNTIME_DIR=" + d->files.string(), "WAYLAND_DISPLAY=" + d->wayland, "DISPLAY=" + d->display,
	           "HOME=" + d->files.string(), d->xauthority.empty() ? "XAUTHORITY" : "XAUTHORITY=" + d->xauthority };
	const fs::path copy = d->files / "dotfall";
	fs::copy_file(d->program[0], copy);
	chmod(copy.c_str(), 0755);
	d->program = { copy.string() };
	return true;
}

bool as_user(desktop *d, std::function<bool()> f)
{
	if (d->user && seteuid(d->user) != 0)
		return false;
	const bool done = f();
	if (d->user && seteuid(0) != 0)
		abort();
	return done;
}

// Wine over any X desktop, dotfall.exe in a copy of a prefix the build made (files linked, registry copied:
// settings changed stay here). On a bare server Wine frames its windows itself, inside them, and draws through
// GDI, far faster; under a window manager, a user's prefix. Wine's debugger writes a crash down: the test fails.
#include "desktop.h"

// Wine's device service now and then crashes starting wineusb's or winebus's
// devices (IoCreateDevice); no test uses USB or game controllers: both off.
static const char NO_BUS_DRIVERS[] = "WINEDLLOVERRIDES=wineusb.sys,winebus.sys=d";

static bool start(desktop *d)
{
	d->prefix = (d->files / "prefix").string();
	const std::string base = d->has(MANAGED) ? WINE_DESKTOP_PREFIX : WINE_PREFIX;
	if (tool({ "cp", "-al", base, d->prefix }) != 0 ||
	    tool({ "sh", "-c", "cd \"$0\" && for f in *.reg; do cp --remove-destination \"$1/$f\" .; done", d->prefix,
	           base }) != 0)
		return failed(d, "no copy of the Wine prefix " + base);
	d->env.insert(d->env.end(), { "WINEPREFIX=" + d->prefix, "WINEDEBUG=-all", NO_BUS_DRIVERS });
	d->program = { "wine", (fs::path(DOTFALL_EXE).parent_path() / "wait-exit.exe").string(), DOTFALL_EXE };
	d->frame = 32;
	return true;
}

// Wine's server outlives its programs a while, keeping a killed run's alive.
static void stop(desktop *d)
{
	tool({ "wineserver", "-k" }, { "WINEPREFIX=" + d->prefix });
	const fs::path crash = fs::path(d->prefix) / "drive_c" / "dotfall-crash.txt";
	if (fs::exists(crash))
		ADD_FAILURE() << "a crash under Wine:\n" << slurp(crash);
}

// Where each thread of the exe waits, from winedbg's backtraces (the exe's
// own frames as offsets): what a hang needs to be found.
static std::string report(desktop *d)
{
	std::string all, text;
	tool({ "winedbg", "--command", "bt all" }, { "WINEPREFIX=" + d->prefix }, &all);
	std::istringstream lines(all);
	bool ours = false;
	for (std::string line; std::getline(lines, line);) {
		if (line.compare(0, 16, "Backtracing for ") == 0)
			ours = line.find(".exe)") != std::string::npos && line.find("\\windows\\") == std::string::npos;
		if (ours)
			text += line.substr(0, 139) + "\n";
	}
	return text;
}

bool wine_registry(desktop *d, const std::vector<std::string> &args)
{
	// Wine's server keeps the registry and writes it out as it ends: wait for
	// that, so that the next program's server reads the change.
	std::vector<std::string> argv{ "wine", "reg" };
	argv.insert(argv.end(), args.begin(), args.end());
	const std::vector<std::string> env{ "WINEPREFIX=" + d->prefix, "WINEDEBUG=-all", "DISPLAY", NO_BUS_DRIVERS };
	const bool done = tool(argv, env) == 0;
	tool({ "wineserver", "-w" }, env);
	return done;
}

// Wine's virtual desktop: one X window that holds all of Wine's and changes
// its size as a display mode switch does on Windows, 1024x768 between runs.
static bool start_desktop(desktop *d)
{
	return wine_registry(d, { "add", "HKCU\\Software\\Wine\\Explorer\\Desktops", "/v", "Default", "/d", "1024x768",
	                          "/f" }) &&
	       wine_registry(d, { "add", "HKCU\\Software\\Wine\\Explorer", "/v", "Desktop", "/d", "Default", "/f" });
}

const layer WINE_LAYER = { "Wine", WINE, start, stop, nullptr, nullptr, report };
const layer WINE_DESKTOP = { "Wine", VIRTUAL_DESKTOP | MODE_SWITCH, start_desktop };

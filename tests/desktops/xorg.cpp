// Xorg with the dummy video driver, headless, as a desktop has one: its
// virtual core devices only (XTest drives them), the usual modes of a
// 1920x1080 monitor, one monitor or two side by side (the first primary),
// reached through its socket or over TCP. It runs only as root.
#include <fstream>

#include "desktop.h"

static const char CONFIG[] =
	"Section \"ServerFlags\"\n"
	"\tOption \"AutoAddDevices\" \"false\"\n\tOption \"AutoEnableDevices\" \"false\"\n"
	"\tOption \"AutoAddGPU\" \"false\"\n\tOption \"DontVTSwitch\" \"true\"\nEndSection\n"
	"Section \"Device\"\n\tIdentifier \"card\"\n\tDriver \"dummy\"\n\tVideoRam 256000\nEndSection\n"
	"Section \"Monitor\"\n\tIdentifier \"monitor\"\n\tHorizSync 28-80\n\tVertRefresh 48-75\n"
	"\tModeline \"1920x1080\" 148.50 1920 2008 2052 2200 1080 1084 1089 1125 +hsync +vsync\n"
	"\tModeline \"1280x720\" 74.25 1280 1390 1430 1650 720 725 730 750 +hsync +vsync\n"
	"\tModeline \"1024x768\" 65.00 1024 1048 1184 1344 768 771 777 806 -hsync -vsync\n"
	"\tModeline \"800x600\" 40.00 800 840 968 1056 600 601 605 628 +hsync +vsync\n"
	"\tModeline \"640x480\" 25.18 640 656 752 800 480 490 492 525 -hsync -vsync\nEndSection\n"
	"Section \"Screen\"\n\tIdentifier \"screen\"\n\tDevice \"card\"\n\tMonitor \"monitor\"\n"
	"\tDefaultDepth 24\n\tSubSection \"Display\"\n\t\tDepth 24\n"
	"\t\tModes \"1920x1080\" \"1280x720\" \"1024x768\" \"800x600\" \"640x480\"\n"
	"\tEndSubSection\nEndSection\n";

static bool start(desktop *d)
{
	std::ofstream(d->files / "xorg.conf") << CONFIG;
	if (d->s->remote)
		d->display = "localhost";
	if (!x_server(d, { "Xorg", "-noreset", d->s->remote ? "-listen" : "-nolisten", "tcp", "-config",
	                   (d->files / "xorg.conf").string(), "-logfile", (d->files / "xorg.log").string() }))
		return false;
	if (d->s->monitors == 1)
		return true;
	const std::vector<std::string> env{ "DISPLAY=" + d->display };
	if (tool({ "xrandr", "--addmode", "DUMMY1", "1920x1080" }, env) != 0 ||
	    tool({ "xrandr", "--fb", "3840x1080", "--output", "DUMMY0", "--mode", "1920x1080", "--pos", "0x0",
	           "--primary", "--output", "DUMMY1", "--mode", "1920x1080", "--pos", "1920x0" }, env) != 0 ||
	    monitors(d->dpy).size() != 2) {
		d->failure = "Xorg's two monitors could not be laid out";
		return false;
	}
	return true;
}

const layer XORG = { "Xorg", MODE_SWITCH | MODES, start, nullptr, nullptr, nullptr, nullptr };

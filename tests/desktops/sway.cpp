// sway, headless (software rendering), a 1280x800 output: keys typed by
// wtype's virtual keyboard, pictures taken by grim as the compositor shows.
#include "desktop.h"

static bool start(desktop *d)
{
	// Its children get its WAYLAND_DISPLAY and DISPLAY: one of them writes
	// them down, once XWayland is up (forced: not on demand).
	const fs::path names = d->files / "names";
	std::ofstream(d->files / "config") << "xwayland force\noutput HEADLESS-1 resolution 1280x800\n"
	                                   << "exec sh -c 'echo $WAYLAND_DISPLAY $DISPLAY >" << names.string()
	                                   << ".new && mv " << names.string() << ".new " << names.string() << "'\n";
	return compositor(d, { "sway", "-c", (d->files / "config").string() },
	                  { "WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman" },
	                  [&](const std::string &) {
		                  std::istringstream(slurp(names)) >> d->wayland >> d->display;
		                  return !d->display.empty();
	                  });
}

// Each wtype's own virtual keyboard loses its first event: a Shift goes first.
static bool press(desktop *d, Window, KeySym sym, const std::vector<KeySym> &held)
{
	std::vector<std::string> argv{ "wtype", "-k", "Shift_L", "-s", "100" };
	for (KeySym k : held)
		argv.insert(argv.end(), { "-P", XKeysymToString(k) });
	argv.insert(argv.end(), { "-k", XKeysymToString(sym) });
	for (KeySym k : held)
		argv.insert(argv.end(), { "-p", XKeysymToString(k) });
	return d->start(d->files, {}, argv).exit_status() == 0;
}

// The window's area of the output as grim takes it.
static std::vector<uint32_t> picture(desktop *d, Window w, XRectangle area)
{
	std::vector<uint32_t> pixels;
	const fs::path shot = d->files / "shot.ppm";
	if (d->start(d->files, {}, { "grim", "-t", "ppm", shot.string() }).exit_status() != 0)
		return pixels;
	const std::string data = slurp(shot);
	std::istringstream in(data);
	std::string magic;
	int sw = 0, sh = 0, max = 0;
	in >> magic >> sw >> sh >> max;
	const size_t at = (size_t)in.tellg() + 1;
	XRectangle r = geometry(d->dpy, w);
	r.x += area.x, r.y += area.y;
	if (magic != "P6" || max != 255 || data.size() < at + 3u * sw * sh || r.x < 0 || r.y < 0 ||
	    r.x + area.width > sw || r.y + area.height > sh)
		return pixels;
	for (int y = r.y; y < r.y + area.height; y++)
		for (int x = r.x; x < r.x + area.width; x++) {
			const unsigned char *p = (const unsigned char *)data.data() + at + 3 * ((size_t)y * sw + x);
			pixels.push_back(p[0] << 16 | p[1] << 8 | p[2]);
		}
	return pixels;
}

const layer SWAY = { "sway", MANAGED | COMPOSITOR, start, nullptr, press, picture };

// Random settings files against the real program under Xvfb. Whatever the
// file holds, a run may only end in one of two ways: status 0 after the key
// we send, with nothing printed, or status 1 with the one failure message and
// nothing shown. And the folder, settings file included, stays as it was.
//
// FUZZ_CASES (default 300) cases run from seed FUZZ_SEED (default 1); a
// failing file is kept as FUZZ_FINDINGS/seed-N.ini (default
// ./fuzz-findings). Files kept in tests/fuzz-findings are replayed every run.
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "desktop.h"

namespace {

struct section {
	const char *name;
	std::vector<const char *> keys;
};

// Our own sections, then some of the library's, which it reads from the
// same file.
const std::vector<section> SECTIONS = {
	{ "screen", { "fullscreen", "screenw", "screenh" } },
	{ "points", { "point_1_x", "point_1_y", "point_2_x", "point_2_y", "point_3_x", "point_3_y" } },
	{ "colors", { "foreground_color_r", "foreground_color_g", "foreground_color_b",
	              "background_color_r", "background_color_g", "background_color_b" } },
	{ "graphics", { "gfx_card", "gfx_cardw", "gfx_card_1", "disable_vsync", "color_depth" } },
	{ "system", { "system", "keyboard", "language", "disable_screensaver", "menu_opening_delay" } },
	{ "mouse", { "mouse", "num_buttons", "emulate_three", "mouse_accel_factor" } },
	{ "keyboard", { "keyboard", "key_led_flag", "accent1", "switch_key" } },
	// Its X key map, whose values index its key tables; keycode65 is the
	// space bar that ends each run here.
	{ "xkeymap", { "keycode65", "KEYCODE65", "keycode065", "keycode9", "keycode8", "keycode255",
	               "keycode0", "keycode256" } },
};

const char *const VALUES[] = {
	"0", "-1", "1", "2", "63", "64", "255", "256", "300", "319", "640", "480", "1024",
	"16384", "16385", "32767", "32768", "65535", "100000", "2147483647", "-2147483648",
	"2147483648", "-2147483649", "4294967296", "99999999999", "-99999999999",
	"0x1F", "0x7fffffff", "-0x80000000", "0xffffffff", "017", "08", "0x", "+5", "1e9",
	"abc", "", "12abc", " 7 ", "XWIN", "XWFS", "NONE", "us", "en", "# comment",
	"93", "114", "115", "126", "127", "128", "50000", "100000000",
};

struct generator {
	std::mt19937 rng;
	explicit generator(uint32_t seed) : rng(seed) {}

	int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
	bool chance(int percent) { return below(100) < percent; }

	std::string bytes(int n, bool binary)
	{
		std::string s;
		for (int i = 0; i < n; i++)
			s += binary ? char(below(256)) : char(' ' + below(95));
		return s;
	}

	std::string value()
	{
		switch (below(8)) {
		case 0: return std::to_string(below(2001) - 200);
		case 1: return std::to_string(below(64));
		case 2: return std::string(1 + below(9000), '9');
		case 3: return bytes(1 + below(40), chance(50));
		default: return VALUES[below(sizeof VALUES / sizeof *VALUES)];
		}
	}

	// A display size: mostly ordinary, so that most runs draw; sometimes
	// anything at all.
	std::string size()
	{
		return chance(70) ? std::to_string(1 + below(chance(90) ? 900 : 16384)) : value();
	}

	std::string misspell(std::string s)
	{
		if (s.empty())
			return "x";
		size_t i = below(s.size());
		switch (below(3)) {
		case 0: s.erase(i, 1); break;
		case 1: s.insert(i, 1, s[i]); break;
		default: s[i] = char(toupper(s[i])); break;
		}
		return s;
	}

	// A valid file of our three sections, then a few mutations of its lines.
	std::string settings()
	{
		std::vector<std::string> lines;
		for (size_t i = 0; i < 3; i++) {
			lines.push_back("[" + std::string(SECTIONS[i].name) + "]");
			for (const char *key : SECTIONS[i].keys) {
				std::string v = i == 0 ? (key[0] == 'f' ? std::to_string(below(2)) : size())
				                : std::to_string(below(i == 1 ? 1200 : 64) - (i == 1 ? 200 : 0));
				lines.push_back(std::string(key) + " = " + v);
			}
		}
		if (chance(30)) {   // a key map, which the mutations below may break up
			lines.push_back("[xkeymap]");
			for (int n = 1 + below(3); n > 0; n--)
				lines.push_back(std::string(SECTIONS.back().keys[below(SECTIONS.back().keys.size())]) + " = " +
				                (chance(50) ? std::to_string(below(300)) : value()));
		}
		for (int n = 1 + below(6); n > 0; n--) {
			size_t at = below(lines.size() + 1);
			const section &sec = SECTIONS[below(SECTIONS.size())];
			const char *key = sec.keys[below(sec.keys.size())];
			switch (below(10)) {
			case 0: case 1: case 2:   // a key with an odd value
				lines.insert(lines.begin() + at, std::string(key) + " = " + value());
				break;
			case 3:   // a line goes
				if (!lines.empty())
					lines.erase(lines.begin() + below(lines.size()));
				break;
			case 4:   // a section, maybe repeated, maybe misspelt, maybe the library's
				lines.insert(lines.begin() + at, "[" + (chance(30) ? misspell(sec.name) : sec.name) + "]");
				break;
			case 5:   // a misspelt key
				lines.insert(lines.begin() + at, misspell(key) + "=" + value());
				break;
			case 6:   // a very long line
				lines.insert(lines.begin() + at, std::string(key) + "=" + std::string(20000 + below(200000), '1'));
				break;
			case 7:   // binary bytes
				lines.insert(lines.begin() + at, bytes(1 + below(300), true));
				break;
			case 8:   // no equals sign, or nothing but one
				lines.insert(lines.begin() + at, chance(50) ? std::string(key) : "=" + value());
				break;
			default:   // a line cut short
				if (!lines.empty()) {
					std::string &l = lines[below(lines.size())];
					l.resize(below(l.size() + 1));
				}
			}
		}
		std::string eol = chance(20) ? "\r\n" : "\n", text;
		for (const std::string &l : lines)
			text += l + eol;
		if (chance(10))
			text.resize(below(text.size() + 1));
		return text;
	}
};

struct Fuzz : On {
	int drew = 0, refused = 0;   // runs that showed a display, and that did not

	// Runs dotfall on one settings file; returns what went wrong, or "".
	std::string try_settings(const std::string &text)
	{
		settings_file(dir, text);
		wait_for(5, [&] { return any_window(d->dpy) == 0; });   // the last run's window is gone
		const folder_state before = snapshot(dir);
		run r = start({ "PATH=/nonexistent" });   // no message box to wait on
		bool shown = false;
		// A key every 2 s once a window shows, up to 60 s in all: a display
		// of thousands of pixels a side takes a while to come up, and each
		// colour set converts all of it again before the key is seen.
		auto step = [&] {
			if (!r.running())
				return true;
			Window w = any_window(d->dpy);
			shown = shown || w;
			if (w) {
				d->press(w, XK_space);
				wait_for(2, [&] { return !r.running(); });
			}
			return !r.running();
		};
		wait_for(60, step);
		int status = r.exit_status(3);
		(shown ? drew : refused)++;

		std::string why;
		if (status == 0 && (!shown || !r.output.empty()))
			why = shown ? "output after a key: " + r.output : "status 0 without a key";
		else if (status == 1 && (shown || trimmed(r.output) != MESSAGE))
			why = shown ? "status 1 after showing a display" : "status 1 with output: " + r.output;
		else if (status != 0 && status != 1)
			why = r.status == -1 ? "no exit (hang)"
			      : WIFSIGNALED(r.status) ? "killed by signal " + std::to_string(WTERMSIG(r.status))
			      : "status " + std::to_string(status);
		if (why.empty() && !(snapshot(dir) == before))
			why = "the folder or the settings file changed";
		return why;
	}
};

TEST_P(Fuzz, RandomSettingsFilesEndCleanly)
{
	const char *cases = getenv("FUZZ_CASES"), *seed = getenv("FUZZ_SEED");
	const char *keep = getenv("FUZZ_FINDINGS");
	const int n = cases ? atoi(cases) : 300;
	const uint32_t first = seed ? strtoul(seed, nullptr, 0) : 1;
	int failed = 0;
	for (uint32_t s = first; s < first + n; s++) {
		const std::string text = generator(s).settings();
		const std::string why = try_settings(text);
		if (why.empty())
			continue;
		failed++;
		fs::path out = fs::path(keep ? keep : "fuzz-findings");
		fs::create_directories(out);
		out /= "seed-" + std::to_string(s) + ".ini";
		std::ofstream(out, std::ios::binary) << text;
		ADD_FAILURE() << "seed " << s << ": " << why << " (file kept as " << out.string() << ")";
	}
	std::printf("%d settings files: %d drew until a key, %d could not open a display, %d failed\n",
	            n, drew, refused, failed);
}

TEST_P(Fuzz, KeptFindingsEndCleanly)
{
	const fs::path kept = fs::path(FINDINGS);
	if (!fs::exists(kept))
		return;
	for (auto &e : fs::directory_iterator(kept)) {
		std::ifstream in(e.path(), std::ios::binary);
		std::string text((std::istreambuf_iterator<char>(in)), {});
		EXPECT_EQ(try_settings(text), "") << e.path().filename().string();
	}
}

ON_DESKTOPS(Fuzz, SIZED, MANAGED | WINE | EMULATED | UNTRUSTED_CLIENT | REMOTE);

} // namespace

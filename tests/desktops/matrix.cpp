// The desktops the tests run on, one line each: the layers from the bottom
// up, and the monitors. A line is there when the configure found what each
// of its layers starts (LAYERS), Wine's when the build has dotfall.exe, arm64's its arm64 build.
#include "desktop.h"

const std::vector<setup> &setups()
{
	static const std::vector<setup> all = [] {
		std::vector<setup> s{
			{ "Xvfb", { &XVFB } },
			{ "Xvfb_openbox", { &XVFB, &OPENBOX } },
			{ "Xvfb_untrusted", { &XVFB, &UNTRUSTED } },
			{ "Xvfb_openbox_untrusted", { &XVFB, &OPENBOX, &UNTRUSTED } },
			{ "Xorg", { &XORG } },
			{ "Xorg_2", { &XORG }, 2 },
			{ "Xorg_2_tcp", { &XORG }, 2, true },
			{ "Xorg_openbox", { &XORG, &OPENBOX } },
			{ "Xorg_2_openbox", { &XORG, &OPENBOX }, 2 },
			{ "Xorg_xfwm4", { &XORG, &XFWM4 } },
			{ "Xorg_2_xfwm4", { &XORG, &XFWM4 }, 2 },
			{ "sway", { &SWAY } },
			{ "mutter", { &MUTTER } },
			// No wayfire: Debian 12's needs a GPU even headless (docs/tests.md).
			{ "Wine", { &XVFB, &WINE_LAYER } },
			{ "Wine_openbox", { &XVFB, &OPENBOX, &WINE_LAYER } },
			{ "Wine_virtual_desktop", { &XVFB, &WINE_LAYER, &WINE_DESKTOP } },
			{ "Xvfb_arm64", { &XVFB, &ARM64 } },
			{ "Xvfb_relay", { &XVFB, &RELAY }, 1, false, 5 },
			{ "Xephyr", { &XVFB, &XEPHYR } },
			{ "Xvnc", { &XVNC } },
		};
		s.erase(std::remove_if(s.begin(), s.end(), [](const setup &line) {
			return !std::all_of(line.layers.begin(), line.layers.end(),
			                    [](const layer *l) { return strstr(LAYERS, (" " + std::string(l->name) + " ").c_str()); });
		}), s.end());
		return s;
	}();
	return all;
}

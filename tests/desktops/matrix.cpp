// The desktops the tests run on, one line each: the layers from the bottom
// up, and the monitors. Wine's lines are there when the build
// has dotfall.exe to test.
#include "desktop.h"

const std::vector<setup> &setups()
{
	static const std::vector<setup> all = [] {
		std::vector<setup> s{
			{ "Xvfb", { &XVFB } },
			{ "Xvfb_openbox", { &XVFB, &OPENBOX } },
			{ "Xorg", { &XORG } },
			{ "Xorg_2", { &XORG }, 2 },
			{ "Xorg_2_tcp", { &XORG }, 2, true },
			{ "Xorg_openbox", { &XORG, &OPENBOX } },
			{ "Xorg_2_openbox", { &XORG, &OPENBOX }, 2 },
			{ "Xorg_xfwm4", { &XORG, &XFWM4 } },
			{ "Xorg_2_xfwm4", { &XORG, &XFWM4 }, 2 },
			{ "sway", { &SWAY } },
			{ "mutter", { &MUTTER } },
		};
		if (*DOTFALL_EXE)
			s.insert(s.end(), { { "Wine", { &XVFB, &WINE_LAYER } },
			                    { "Wine_openbox", { &XVFB, &OPENBOX, &WINE_LAYER } },
			                    { "Wine_virtual_desktop", { &XVFB, &WINE_LAYER, &WINE_DESKTOP } } });
		return s;
	}();
	return all;
}

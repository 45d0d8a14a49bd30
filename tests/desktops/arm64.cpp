// The arm64 build of dotfall, run under qemu-user in its system root on the
// desktop below: the same program as a Raspberry Pi runs, on this machine.
#include "desktop.h"

static bool start(desktop *d)
{
	d->program = { QEMU_AARCH64, "-L", DOTFALL_ARM64_SYSROOT, DOTFALL_ARM64 };
	return true;
}

const layer ARM64 = { "arm64", EMULATED, start };

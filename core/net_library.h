// Loading, binding, start and end of the two network port libraries that
// both programs use to reach LAN printers (slots of net_binding.h).
#pragma once

// Resolves the thirteen entry points of every loaded slot, slot 0 first, and
// releases a slot that lacks one (without calling its Cleanup). Returns 1 when
// at least one complete slot remains, else 0.
int BindNetLibraries();

// At program start, after the settings are loaded: loads "SxJcp32.dll" into
// slot 0 and "lanquay.dll" into slot 1 from the program folder, binds them and
// starts each with the program's instance; a library whose Startup fails is
// cleaned up and released. When no library is usable, shows message 16,
// releases whatever is loaded and returns false: the program must end.
bool LoadNetLibraries();

// At program end: Cleanup and release of every loaded slot, slot 0 first.
void UnloadNetLibraries();

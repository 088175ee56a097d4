#include "program_state.h"

#include "net_binding.h"
#include "settings_types.h"

ProgramState g_program = {ProgramKind::Romsmith, nullptr, nullptr, nullptr, 1};
Settings g_settings = {};
NetLibraryBinding g_netLibraries[kNetSlotCount] = {};

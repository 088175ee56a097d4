// Romsmith's version, read by the version resource and by the program.
#pragma once

#define ROMSMITH_VERSION_NUMBERS 1, 0, 0, 0
#define ROMSMITH_VERSION_TEXT "1.0.0.0"
#define ROMSMITH_COPYRIGHT_TEXT "Copyright (C) 2026 Printer Service Kit developers"

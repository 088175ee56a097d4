// Tagsmith's version, shared by the version resource and the manifest.
#pragma once

#define TAGSMITH_VERSION_NUMBERS 1, 0, 0, 0
#define TAGSMITH_VERSION_TEXT "1.0.0.0"

// The status channel.
#include "lq_context.h"

extern "C" LqHandle WINAPI LqOpenStatus(const char* host) { return -1; }
extern "C" int WINAPI LqCloseStatus(LqHandle handle) { return 0; }
extern "C" int WINAPI LqGetStatus(LqHandle handle, char* buffer, int32_t capacity, uint32_t* length) { return 0; }

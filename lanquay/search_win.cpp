// Printer search: placeholder entry points until the search is built.
#include "lq_context.h"

extern "C" LqHandle WINAPI LqOpenSearch(void) { return -1; }

extern "C" int WINAPI LqCloseSearch(LqHandle handle) { return 0; }

extern "C" int WINAPI LqSendSearch(LqHandle handle, LqSearchEntry* entries, int32_t capacity, int32_t waitSeconds,
                                   int32_t reserved, uint32_t* count) {
  return 0;
}

extern "C" int WINAPI LqSendSearch_DHCPreq(LqHandle handle, LqSearchEntry* entries, uint32_t seconds,
                                           uint32_t rounds, uint32_t* count) {
  return 0;
}

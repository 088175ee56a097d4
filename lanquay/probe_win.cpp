// Reachability probes and job cancel: placeholder entry points until they
// are built.
#include "lq_context.h"

extern "C" int WINAPI LqSendICMP(const char* host) { return 0; }

extern "C" int WINAPI LqSendICMP_Async(const char* host) { return 0; }

extern "C" int WINAPI LqSendCancel(const char* host) { return 0; }

extern "C" int WINAPI LqSetUseICMP(int32_t flag) {
  g_lq.useIcmp = flag;
  return 1;
}

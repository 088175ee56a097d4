// The network data port.
#include "lq_context.h"

extern "C" LqHandle WINAPI LqOpenPort(const char* host) { return -1; }
extern "C" int WINAPI LqReadPort(LqHandle handle, char* buffer, int32_t size, int32_t* received) { return 0; }
extern "C" int WINAPI LqRecvPort(LqHandle handle, char* buffer, int32_t size, int32_t* received) { return 0; }
extern "C" int WINAPI LqWritePort(LqHandle handle, const char* data, uint32_t length, uint32_t* sent) { return 0; }
extern "C" int WINAPI LqWritePort_Async(LqHandle handle, const char* data, uint32_t length, uint32_t* sent) {
  return 0;
}
extern "C" int WINAPI LqClosePort(LqHandle handle) { return 0; }

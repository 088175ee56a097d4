// The system's serial defaults for a COM port ("baud,parity,data,stop,flow"
// from the [Ports] profile section): only the flow-control field is used.
// Platform-free so that it can be tested natively.
#pragma once

#include <cstdint>

// 1 ("XON/XOFF") when the fifth field is exactly "x"; 0 ("DTR/DSR") for any
// other field, or when there is no fifth field.
int32_t ComFlowControlFromPortsValue(const wchar_t* value);

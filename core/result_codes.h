// Result codes shared by every operation of both programs. 0 is success;
// positive numbers passed to ShowResultMessage name a catalogue message.
#pragma once

#include <cstdint>

enum ResultCode : int32_t {
  PRT_SUCCESS = 0,

  // Firmware file checks.
  FILE_ERR_NO_NAME = -3,
  FILE_ERR_NO_EXTENSION = -4,
  FILE_ERR_OPEN = -6,
  FILE_ERR_EXTENSION = -7,
  FILE_ERR_READ = -8,
  FILE_ERR_NOT_FIRMWARE = -9,

  PRT_ERR_NOPRINTER = -20,
  PRT_ERR_SEND = -21,
  PRT_ERR_SEARCH = -22,
  PRT_ERR_JOB = -23,
  PRT_ERR_DATA = -30,
  PRT_ERR_FORMAT = -31,
  PRT_ERR_VERIFY = -32,
  PRT_ERR_RECEIVE = -33,
  PRT_ERR_NOREPLY = -34,
  PRT_ERR_OPEN = -40,
  PRT_ERR_MEMORY = -50,
  PRT_ERR_GETPRMEMORY = -60,
  PRT_ERR_GETPRINTER = -61,
  PRT_ERR_SETPRINTER = -62,
};

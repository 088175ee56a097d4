// Command kinds of one printer exchange (the first argument of SendPrinter)
// and the port kinds of a connection.
#pragma once

#include <cstdint>

enum CommandKind : uint16_t {
  MODE_FWSEND = 14,        // caller's block unchanged, more printers follow
  MODE_FWSEND_LAST = 15,   // caller's block unchanged, last or only printer
  MODE_BFCLEAR = 16,       // receive kind that drains pending input
  MODE_RESET3 = 17,
  MODE_VERSION_PRINT = 18,
  MODE_READFIX = 19,
  MODE_READVARI = 20,
  MODE_SERIALNO_SET = 21,
};

enum PortKind : int32_t {
  PORT_USB = 0,
  PORT_COM = 1,
  PORT_LPT = 2,
  PORT_LAN = 3,
};

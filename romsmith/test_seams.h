// Test seams of the running program. USB printers and the print spooler do
// not exist under emulation, so GUI tests that start Romsmith.exe as its own
// process need a way to hand it stand-ins for both.
//
// Only builds configured with the CMake option KIT_TEST_SEAMS (off unless
// asked for; the test command asks for it in its x86_64 build) contain the
// mechanism: at start, before the spooler snapshot, the program
// reads the environment variable ROMSMITH_TEST_SEAMS. When it names a DLL,
// the DLL is loaded and these exports are used when present:
//   const SpoolerApi* KitTestSpoolerApi();            -> SetSpoolerApi
//   const UsbDiscoveryApi* KitTestUsbDiscoveryApi();  -> SetUsbDiscoveryApi
// (plain C names, no decoration; see core/spooler.h and core/usb_discovery.h
// for the tables). A DLL that fails to load is ignored. Builds without the
// option compile InstallTestSeams to nothing and never read the variable.
#pragma once

void InstallTestSeams();

// Test-side client of the printer simulator's control port.
#pragma once

#include <string>
#include <vector>

// Address of simulated LAN printer n (2 to 6): "<KIT_SIM_BASE>n".
std::string SimHost(int n);

// Sends one control line, returns the answer line ("OK ...", "ERR ...").
std::string SimCommand(const std::string& line);

// Every byte the printer received on its data path (target "com" or an address).
std::vector<unsigned char> SimReceived(const std::string& target);

// The COM printer's port as the programs name it.
constexpr const wchar_t kSimComName[] = L"COM5";
constexpr const wchar_t kSimComPath[] = L"\\\\.\\COM5";

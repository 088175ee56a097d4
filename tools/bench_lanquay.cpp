// Throughput of LqWritePort against a plain blocking Winsock sender of the
// same block, each to the same kind of sink on loopback. Not a test: run it
// through scripts/bench-lanquay.sh.
//   bench_lanquay HOST BYTES LABEL [RUNS]
//   bench_lanquay list BYTES HOST...
//       the plain sender alone, writing the block to each host in turn (a
//       connection each, closed before the next): the reference of a LAN
//       list write; prints the total time
// The sink listens on HOST:9100 (lanquay's data port) and HOST:9101 (the
// plain sender) and answers "DONE\n" once it has every byte, so both times
// run up to the receiver, not just into the local send buffer.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lanquay.h"

namespace {

// Bound by name as the programs do; the 32-bit import library carries the
// undecorated names, so a direct link would not find LqWritePort@16.
struct Library {
  LqStartupFn startup;
  LqCleanupFn cleanup;
  LqOpenPortFn openPort;
  LqClosePortFn closePort;
  LqWritePortFn writePort;
  LqRecvPortFn readPort;  // LqReadPort has the same arguments
} g_lib;

template <typename Fn>
bool Bind(HMODULE module, Fn* slot, const char* name) {
  *slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return *slot != nullptr;
}

bool LoadLanquay() {
  HMODULE module = LoadLibraryA("lanquay.dll");
  return module && Bind(module, &g_lib.startup, "LqStartup") && Bind(module, &g_lib.cleanup, "LqCleanup") &&
         Bind(module, &g_lib.openPort, "LqOpenPort") && Bind(module, &g_lib.closePort, "LqClosePort") &&
         Bind(module, &g_lib.writePort, "LqWritePort") && Bind(module, &g_lib.readPort, "LqReadPort");
}

double Now() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void SetSetting(const char* name, DWORD value) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\NWD_QUAYDLL", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  RegCloseKey(key);
}

// Seconds for the whole block through LqWritePort, or a negative value.
double RunLanquay(const std::string& host, const std::vector<char>& block) {
  LqHandle port = g_lib.openPort(host.c_str());
  if (port == -1) return -1;
  double start = Now();
  uint32_t sent = 0;
  int ok = g_lib.writePort(port, block.data(), static_cast<uint32_t>(block.size()), &sent);
  char answer[16];
  int32_t received = 0;
  int got = ok ? g_lib.readPort(port, answer, sizeof(answer), &received) : 0;
  double took = Now() - start;
  g_lib.closePort(port);
  if (!ok || !got || received <= 0) {
    fprintf(stderr, "lanquay: write %d sent %u answer %d/%d\n", ok, sent, got, received);
    return -1;
  }
  return took;
}

// Seconds for the whole block through a blocking send loop that offers at
// most pieceSize bytes per call (0: everything at once), or negative.
double RunPlain(const std::string& host, const std::vector<char>& block, size_t pieceSize) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return -1;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(9101);
  address.sin_addr.s_addr = inet_addr(host.c_str());
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    closesocket(s);
    return -1;
  }
  double start = Now();
  size_t offset = 0;
  while (offset < block.size()) {
    size_t piece = block.size() - offset;
    if (pieceSize && piece > pieceSize) piece = pieceSize;
    int n = send(s, block.data() + offset, static_cast<int>(piece), 0);
    if (n <= 0) break;
    offset += static_cast<size_t>(n);
  }
  char answer[16];
  int got = recv(s, answer, sizeof(answer), 0);
  double took = Now() - start;
  closesocket(s);
  if (offset != block.size() || got <= 0) return -1;
  return took;
}

}  // namespace

// The plain sender over a list of printers, one after another.
int RunList(int argc, char** argv) {
  size_t bytes = strtoul(argv[2], nullptr, 10);
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  std::vector<char> block(bytes);
  for (size_t i = 0; i < bytes; ++i) block[i] = static_cast<char>(i * 31 + 7);
  double start = Now();
  for (int i = 3; i < argc; ++i) {
    if (RunPlain(argv[i], block, 0) <= 0) {
      fprintf(stderr, "plain sender: %s failed\n", argv[i]);
      return 1;
    }
  }
  printf("plain list: %d printers, total %.3f s\n", argc - 3, Now() - start);
  WSACleanup();
  return 0;
}

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "list") return RunList(argc, argv);
  if (argc < 4) {
    fprintf(stderr, "usage: bench_lanquay HOST BYTES LABEL [RUNS]\n");
    return 2;
  }
  std::string host = argv[1];
  size_t bytes = strtoul(argv[2], nullptr, 10);
  const char* label = argv[3];
  int runs = argc > 4 ? atoi(argv[4]) : 1;
  // Long limits: a slow reader must not end the write or the answer wait.
  SetSetting("TIME", 60);
  SetSetting("RETRY", 1);
  if (!LoadLanquay() || g_lib.startup(GetModuleHandleA(nullptr)) != 1) return 1;
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  std::vector<char> block(bytes);
  for (size_t i = 0; i < bytes; ++i) block[i] = static_cast<char>(i * 31 + 7);

  // Best of the runs for each, alternating so both meet the same machine load.
  // The plain sender runs twice: offering the whole block to one send call,
  // and offering the same 16384-byte pieces as LqWritePort, which shows the
  // platform's cost per send call apart from the library's own.
  double bestPlain = 0;
  double bestPieces = 0;
  double bestLanquay = 0;
  for (int run = 0; run < runs; ++run) {
    double plain = RunPlain(host, block, 0);
    double pieces = RunPlain(host, block, 16384);
    double lanquay = RunLanquay(host, block);
    if (plain <= 0 || pieces <= 0 || lanquay <= 0) {
      fprintf(stderr, "%s: run %d failed (plain %.3f s, pieces %.3f s, lanquay %.3f s)\n", label, run, plain, pieces,
              lanquay);
      return 1;
    }
    if (bestPlain == 0 || plain < bestPlain) bestPlain = plain;
    if (bestPieces == 0 || pieces < bestPieces) bestPieces = pieces;
    if (bestLanquay == 0 || lanquay < bestLanquay) bestLanquay = lanquay;
  }
  double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
  printf("%-5s %6.2f MiB  plain %8.2f MiB/s  plain 16K pieces %8.2f MiB/s  LqWritePort %8.2f MiB/s\n", label, mib,
         mib / bestPlain, mib / bestPieces, mib / bestLanquay);
  printf("%-5s ratio LqWritePort/plain %5.1f%%   LqWritePort/plain 16K pieces %5.1f%%\n", label,
         100.0 * bestPlain / bestLanquay, 100.0 * bestPieces / bestLanquay);
  WSACleanup();
  g_lib.cleanup();
  return 0;
}

#include "sim_client.h"

#include <winsock2.h>

#include <cstdlib>

namespace {

std::string Base() {
  const char* base = std::getenv("KIT_SIM_BASE");
  return base && *base ? base : "127.0.0.";
}

SOCKET g_control = INVALID_SOCKET;

bool Connect() {
  if (g_control != INVALID_SOCKET) return true;
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return false;
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(19900);
  addr.sin_addr.s_addr = inet_addr((Base() + "1").c_str());
  if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    closesocket(s);
    return false;
  }
  g_control = s;
  return true;
}

}  // namespace

std::string SimHost(int n) { return Base() + std::to_string(n); }

std::string SimCommand(const std::string& line) {
  if (!Connect()) return "ERR no simulator";
  std::string out = line + "\n";
  if (send(g_control, out.data(), static_cast<int>(out.size()), 0) != static_cast<int>(out.size())) return "ERR send";
  // Answers are single lines; read in large pieces (a big "received" answer
  // byte by byte is very slow under Wine) and keep what follows the line.
  static std::string pending;
  char piece[65536];
  for (;;) {
    size_t end = pending.find('\n');
    if (end != std::string::npos) {
      std::string answer = pending.substr(0, end);
      pending.erase(0, end + 1);
      return answer;
    }
    int n = recv(g_control, piece, sizeof(piece), 0);
    if (n <= 0) return "ERR recv";
    pending.append(piece, static_cast<size_t>(n));
  }
}

std::vector<unsigned char> SimReceived(const std::string& target) {
  std::string answer = SimCommand(target + " received");
  std::vector<unsigned char> bytes;
  if (answer.compare(0, 2, "OK") != 0) return bytes;
  for (size_t i = 3; i + 1 < answer.size(); i += 2) {
    bytes.push_back(static_cast<unsigned char>(std::strtoul(answer.substr(i, 2).c_str(), nullptr, 16)));
  }
  return bytes;
}

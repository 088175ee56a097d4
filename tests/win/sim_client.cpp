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
  std::string answer;
  char c;
  while (recv(g_control, &c, 1, 0) == 1) {
    if (c == '\n') return answer;
    answer += c;
  }
  return "ERR recv";
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

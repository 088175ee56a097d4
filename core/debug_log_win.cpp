#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "debug_log.h"
#include "settings_types.h"

void WriteDebugLog(const char* text) {
  if (g_settings.logEnabled != 1 || text == nullptr) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t path[kPathChars + 32];
  _snwprintf(path, sizeof(path) / sizeof(path[0]), L"%ls\\%ls", g_settings.programFolder, L"Log\\_DEBUG.LOG");
  path[sizeof(path) / sizeof(path[0]) - 1] = L'\0';
  // Text mode: every "\n" goes out as CR LF. The file is reopened for every
  // line so that a "Log" folder removed or recreated at run time is honoured.
  FILE* file = _wfopen(path, L"a+");
  if (file == nullptr) return;
  fprintf(file, "[%02d:%02d:%02d:%03d] %s\n", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, text);
  fclose(file);
}

void DebugLogF(const char* format, ...) {
  if (g_settings.logEnabled != 1) return;
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int needed = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (needed >= 0) {
    std::vector<char> line(static_cast<size_t>(needed) + 1);
    vsnprintf(line.data(), line.size(), format, args);
    WriteDebugLog(line.data());
  }
  va_end(args);
}

// What a long run of one program costs the system, sampled from outside the
// program: its handles, threads, GDI and USER objects and private memory. Used by the
// operators' soak runs, which repeat one operation in one program session
// and compare these figures between the first and the last runs.
//
// Wine answers some of the usual calls with nothing: GetGuiResources is a
// stub that returns 0, and the private bytes of GetProcessMemoryInfo are the
// process's swap use on Linux. Each figure therefore comes from the first
// source that gives a real value, and says which one it was.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace soak {

struct Figure {
  long long value = -1;  // -1: no source gave a value
  std::string source;    // how it was measured
};

struct ProcessFigures {
  Figure handles;
  Figure threads;
  Figure gdiObjects;
  Figure userObjects;
  Figure privateBytes;
};

// Samples process `pid`, started from `exePath` (the path as the program was
// started, used to find its Linux process where Wine's figures are empty).
ProcessFigures Sample(DWORD pid, const std::wstring& exePath);

// Processor time (user and kernel) the process has used so far, in
// seconds, or -1 when no source gives it; `source` says which one did.
double ProcessorSeconds(DWORD pid, const std::wstring& exePath, std::string* source = nullptr);

// One block of runs of a soak and the figures after its last run.
struct Block {
  int firstRun = 0;
  int lastRun = 0;
  double secondsPerRun = 0;
  ProcessFigures after;
};

// Collects the blocks of one operation and prints them as a Markdown table.
class SoakTable {
 public:
  explicit SoakTable(std::string operation) : operation_(std::move(operation)) {}
  // The figures before the first run (after the program's start).
  void SetStart(const ProcessFigures& figures) { start_ = figures; }
  void Add(const Block& block) { blocks_.push_back(block); }
  // The table, the sources of the figures and the verdict; true when the
  // last block shows no growth over the first (handles and objects equal,
  // private bytes within 1 MB) and no slowing down.
  bool Print() const;

 private:
  std::string operation_;
  ProcessFigures start_;
  std::vector<Block> blocks_;
};

// Runs `run` `runs` times, sampling `pid` before the first run and after
// every 50 runs (a quarter of the runs when there are fewer than 200); a
// run that returns false ends the soak with a message naming it. Prints the
// table; the result is the verdict, false also when a run failed.
bool Soak(const std::string& operation, DWORD pid, const std::wstring& exePath, int runs,
          const std::function<bool(int run)>& run);

}  // namespace soak

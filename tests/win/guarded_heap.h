// A stand-in for the global heap in the system-call seams: counts blocks,
// fails chosen allocations, and keeps guard bytes after every block so that
// a write past a block is caught when it is freed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

class GuardedHeap {
 public:
  static constexpr size_t kGuard = 64;
  static constexpr uint8_t kGuardByte = 0xA5;

  void* Alloc(size_t bytes) {
    const int call = allocCalls_++;
    if (failCalls_.count(call) != 0 || failAll_) return nullptr;
    auto* block = static_cast<uint8_t*>(malloc(bytes + kGuard));
    memset(block, 0, bytes);
    memset(block + bytes, kGuardByte, kGuard);
    blocks_[block] = bytes;
    return block;
  }
  void Free(void* p) {
    if (p == nullptr) return;
    auto it = blocks_.find(p);
    if (it == blocks_.end()) {
      ++badFrees_;
      return;
    }
    const auto* bytes = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < kGuard; ++i) {
      if (bytes[it->second + i] != kGuardByte) {
        ++overruns_;
        break;
      }
    }
    free(p);
    blocks_.erase(it);
  }
  // Checks the guards of a block that is still in use.
  bool Intact(const void* p) const {
    auto it = blocks_.find(const_cast<void*>(p));
    if (it == blocks_.end()) return false;
    const auto* bytes = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < kGuard; ++i) {
      if (bytes[it->second + i] != kGuardByte) return false;
    }
    return true;
  }
  void FailCall(int call) { failCalls_.insert(call); }
  void FailAll(bool fail) { failAll_ = fail; }
  int AllocCalls() const { return allocCalls_; }
  size_t Live() const { return blocks_.size(); }
  int Overruns() const { return overruns_; }
  int BadFrees() const { return badFrees_; }
  void Reset() {
    for (auto& b : blocks_) free(b.first);
    blocks_.clear();
    failCalls_.clear();
    failAll_ = false;
    allocCalls_ = overruns_ = badFrees_ = 0;
  }
  ~GuardedHeap() { Reset(); }

 private:
  std::map<void*, size_t> blocks_;
  std::set<int> failCalls_;
  bool failAll_ = false;
  int allocCalls_ = 0;
  int overruns_ = 0;
  int badFrees_ = 0;
};

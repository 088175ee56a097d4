// The handle table: 32-bit handles that stand for library-owned records on
// both targets. A handle is never an address, so a stale or made-up value
// can only miss, never reach freed memory.
#include "lq_context.h"

namespace {

constexpr LqHandle kSlots = 1024;
constexpr LqHandle kHighestHandle = 0x7FFFFFFF;

struct HandleSlot {
  LqHandle handle;  // 0 while free
  LqContext* record;
};

struct HandleTable {
  SRWLOCK lock;
  LqHandle lastHandle;  // handles count up, so a closed value is not reused soon
  HandleSlot slots[kSlots];
};

// Static zero-initialisation is a valid SRWLOCK: no set-up call is needed,
// which keeps the entry point free of work.
HandleTable g_handles;

LqHandle SlotIndex(LqHandle handle) { return (handle - 1) % kSlots; }

}  // namespace

LqHandle LqAllocContext(LqContext** record) {
  if (record) *record = nullptr;
  LqContext* fresh = static_cast<LqContext*>(LocalAlloc(LPTR, sizeof(LqContext)));
  if (!fresh) return -1;
  fresh->socket = INVALID_SOCKET;
  fresh->users = 1;  // the table's own reference
  LqHandle handle = -1;
  AcquireSRWLockExclusive(&g_handles.lock);
  for (LqHandle tries = 0; tries < kSlots; ++tries) {
    LqHandle candidate = g_handles.lastHandle >= kHighestHandle ? 1 : g_handles.lastHandle + 1;
    g_handles.lastHandle = candidate;
    HandleSlot& slot = g_handles.slots[SlotIndex(candidate)];
    if (slot.handle == 0) {
      slot.handle = candidate;
      slot.record = fresh;
      handle = candidate;
      break;
    }
  }
  ReleaseSRWLockExclusive(&g_handles.lock);
  if (handle == -1) {
    LocalFree(fresh);
    return -1;
  }
  if (record) *record = fresh;
  return handle;
}

LqContext* LqLookup(LqHandle handle) {
  if (handle <= 0) return nullptr;
  LqContext* record = nullptr;
  AcquireSRWLockShared(&g_handles.lock);
  const HandleSlot& slot = g_handles.slots[SlotIndex(handle)];
  if (slot.handle == handle) record = slot.record;
  ReleaseSRWLockShared(&g_handles.lock);
  return record;
}

LqContext* LqAcquire(LqHandle handle) {
  if (handle <= 0) return nullptr;
  LqContext* record = nullptr;
  // Shared is enough: only LqDetach removes a record, and it takes the lock
  // exclusively, so a record found here still holds the table's reference.
  AcquireSRWLockShared(&g_handles.lock);
  const HandleSlot& slot = g_handles.slots[SlotIndex(handle)];
  if (slot.handle == handle) {
    record = slot.record;
    InterlockedIncrement(&record->users);
  }
  ReleaseSRWLockShared(&g_handles.lock);
  return record;
}

void LqRelease(LqContext* record) {
  if (record && InterlockedDecrement(&record->users) == 0) LocalFree(record);
}

LqContext* LqDetach(LqHandle handle) {
  if (handle <= 0) return nullptr;
  LqContext* record = nullptr;
  AcquireSRWLockExclusive(&g_handles.lock);
  HandleSlot& slot = g_handles.slots[SlotIndex(handle)];
  if (slot.handle == handle) {
    record = slot.record;
    slot.handle = 0;
    slot.record = nullptr;
  }
  ReleaseSRWLockExclusive(&g_handles.lock);
  return record;
}

void LqFreeContext(LqHandle handle) { LqRelease(LqDetach(handle)); }

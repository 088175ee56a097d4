// The port journal is read back at start-up from a file that a crash or a
// hand edit may have left in any state. Whatever is read must format back
// and read again to the same entries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/port_journal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const PortJournalContents read = ParsePortJournal(data, size);
  std::string text;
  if (!FormatPortJournal(read.entries, &text)) abort();
  const PortJournalContents again = ParsePortJournal(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  if (!again.complete || again.entries.size() != read.entries.size()) abort();
  for (size_t i = 0; i < read.entries.size(); ++i) {
    if (again.entries[i].printerName != read.entries[i].printerName) abort();
    if (again.entries[i].portList != read.entries[i].portList) abort();
  }
  return 0;
}

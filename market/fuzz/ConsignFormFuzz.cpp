// libFuzzer entry: the consign page on arbitrary bytes. Reading its form
// either gives the form's inputs or names why the page offers none; the note cut from the same bytes is at most 128 bytes and ends
// between two GBK characters.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/GbkText.h"
#include "market/Consignment.h"
#include "market/fuzz/FuzzMarket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Quorvel;
  const std::string page(reinterpret_cast<const char*>(data), size);
  fuzzing::allowingEngineLimits([&] {
    const ConsignForm form = readConsignForm(page);
    if (form.refusal == ConsignRefusal::kNotConfirmed) __builtin_trap();
    if (form.refusal != ConsignRefusal::kNone && !form.fields.empty()) __builtin_trap();
    for (const auto& [name, value] : form.fields) {
      if (name.empty()) __builtin_trap();
    }
    const std::string note = consignNote(page);
    if (note.size() > kConsignNoteWhole || page.compare(0, note.size(), note) != 0) __builtin_trap();
    if (note.size() < page.size() && gbkPrefix(note, note.size()) != note) __builtin_trap();
  });
  return 0;
}

// The preset file reader over arbitrary file contents: loading, reading every
// entry of three channels into preset lists, and writing them back. A file
// that cannot be read is kept aside and a new one started; either way the
// reader must come out usable.

#include <cstdint>
#include <string>

#include "ptz/preposition_list.h"
#include "ptz/xml_preposition_reader.h"
#include "scratch_file.h"

using fuzzing::Check;
using fuzzing::WorkDirectory;
using fuzzing::WriteFile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name = "ACTi_000F7C0A1B2C.preset";
  const std::string path = WorkDirectory() + name;
  std::filesystem::remove(path + ".unreadable");
  WriteFile(path, data, size);

  orbisan::TSmartPtr<orbisan::CXMLPrepositionReader> store(new orbisan::CXMLPrepositionReader("ACTi", WorkDirectory()));
  Check(store->Initialize(name), "a damaged file is replaced by a usable one");
  for (uint32_t channel = 0; channel < 3; ++channel) {
    orbisan::CPrepositionList list(channel, true);
    list.SetComm(nullptr, 32);
    list.SetStorage(store);
    Check(list.GetCount() <= 32, "no more presets than slots");
    std::wstring presetName;
    for (uint32_t i = 0; list.GetName(i, presetName); ++i) {
      Check(!presetName.empty(), "loaded names are not empty");
    }
    Check(list.SaveAll(), "a loaded channel can be written back");
  }
  return 0;
}

#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "runtime/recursive_lock.h"
#include "xml/xml_settings_api.h"

namespace orbisan {

// The preset file of one camera, shared by the lists of all its PTZ channels:
// Root/PtzChannelNN/PrepositionNNN/{Name,Slot}. Every write is saved at once
// unless auto-save is off. All stores of the process that name one file share
// one document, so that one driver object's save never writes another's
// presets back to an older state.
class CXMLPrepositionReader {
 public:
  // baseDirectory: where a file name without a directory goes.
  explicit CXMLPrepositionReader(std::string rootName, std::string baseDirectory = {});
  virtual ~CXMLPrepositionReader();
  CXMLPrepositionReader(const CXMLPrepositionReader&) = delete;
  CXMLPrepositionReader& operator=(const CXMLPrepositionReader&) = delete;

  // Loads the file, or creates it when there is none. A file that exists but
  // cannot be read as this store is kept aside (".unreadable", then
  // ".unreadable.1" and so on: a copy kept aside is never overwritten).
  bool Initialize(const std::string& fileName);
  bool ReadEntry(uint32_t channel, uint32_t position, std::wstring& name, uint32_t& slot);
  bool WriteEntry(uint32_t channel, uint32_t position, const std::wstring& name, uint32_t slot);
  bool ClearChannel(uint32_t channel);
  // Turning it on saves at once; false when that save failed.
  bool SetAutoSave(bool autoSave);
  std::string GetFileName() const;

 private:
  struct Document;
  std::string ChannelPath(uint32_t channel) const;
  std::string EntryPath(uint32_t channel, uint32_t position) const;

  std::string rootName_;
  std::string baseDirectory_;
  std::shared_ptr<Document> document_;  // null until Initialize
  bool autoSave_ = false;
};

}  // namespace orbisan

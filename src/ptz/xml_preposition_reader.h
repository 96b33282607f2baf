#pragma once

#include <cstdint>
#include <string>

#include "runtime/recursive_lock.h"
#include "xml/xml_settings_api.h"

namespace orbisan {

// The preset file of one camera, shared by the lists of all its PTZ channels:
// Root/PtzChannelNN/PrepositionNNN/{Name,Slot}. Every write is saved at once
// unless auto-save is off.
class CXMLPrepositionReader {
 public:
  // baseDirectory: where a file name without a directory goes.
  explicit CXMLPrepositionReader(std::string rootName, std::string baseDirectory = {});
  virtual ~CXMLPrepositionReader();
  CXMLPrepositionReader(const CXMLPrepositionReader&) = delete;
  CXMLPrepositionReader& operator=(const CXMLPrepositionReader&) = delete;

  // Loads the file, or creates it when there is none. A file that exists but
  // cannot be read as this store is kept aside (".unreadable") rather than
  // overwritten.
  bool Initialize(const std::string& fileName);
  bool ReadEntry(uint32_t channel, uint32_t position, std::wstring& name, uint32_t& slot);
  bool WriteEntry(uint32_t channel, uint32_t position, const std::wstring& name, uint32_t slot);
  bool ClearChannel(uint32_t channel);
  // Turning it on saves at once; false when that save failed.
  bool SetAutoSave(bool autoSave);
  const std::string& GetFileName() const { return settings_.GetFileName(); }

 private:
  std::string ChannelPath(uint32_t channel) const;
  std::string EntryPath(uint32_t channel, uint32_t position) const;

  std::string rootName_;
  CRecursiveLock lock_;
  CXMLSettingsAPI settings_;
  bool autoSave_ = false;
};

}  // namespace orbisan

#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ptz/preposition_comm.h"
#include "ptz/xml_preposition_reader.h"
#include "runtime/recursive_lock.h"
#include "runtime/smart_ptr.h"

namespace orbisan {

// The named presets of one PTZ channel: names mapped to camera slots, the
// preset the camera stands on, and (with storage) the channel's part of the
// camera's preset file. Indexes are positions in creation order.
class CPrepositionList {
 public:
  CPrepositionList(uint32_t channel, bool storage);
  virtual ~CPrepositionList();
  CPrepositionList(const CPrepositionList&) = delete;
  CPrepositionList& operator=(const CPrepositionList&) = delete;

  virtual bool WriteEntry(uint32_t position, uint32_t slot, const std::wstring& name);
  virtual bool SaveAll();
  virtual void Load();

  // Hands over the command interface and slot count once the control is open.
  void SetComm(IPrepositionComm* comm, uint32_t capacity);
  // Takes the store and loads this channel's presets from it.
  virtual bool SetStorage(const TSmartPtr<CXMLPrepositionReader>& store);
  virtual uint32_t GetCount();
  virtual bool GetName(uint32_t index, std::wstring& name);
  virtual bool GoTo(const std::wstring& name, uint32_t value);
  // 1, -3 (invalid name), -18 (not saved), -26 (camera full).
  virtual int32_t AddPreposition(const std::wstring& name);
  virtual bool RemovePreposition(const std::wstring& name);
  virtual bool GetCurrentName(std::wstring& name);

  // The camera was moved by something other than a preset.
  void PositionChanged();
  int32_t RenameCurrentPreposition(const std::wstring& name);
  static bool IsValidName(const std::wstring& name);

 private:
  // Slot whose name equals name exactly, first in slot order.
  bool FindSlot(const std::wstring& name, uint32_t& slot);
  // Position of the slot in the order list, -1 when absent.
  int32_t PositionOf(uint32_t slot);

  bool storage_;
  uint32_t channel_;
  IPrepositionComm* comm_ = nullptr;
  uint32_t capacity_ = 0;
  TSmartPtr<CXMLPrepositionReader> store_;
  CRecursiveLock lock_;
  std::map<uint32_t, std::wstring> names_;
  std::vector<uint32_t> order_;
  std::atomic<int32_t> current_{-1};  // position of the preset the camera stands on
};

}  // namespace orbisan

#include "ptz/preposition_list.h"

#include <algorithm>

#include "runtime/text_utils.h"
#include "strandline/ptz.h"

namespace orbisan {

namespace {
constexpr const char* kAdd = "orbisan::CPrepositionList::AddPreposition";
}

CPrepositionList::CPrepositionList(uint32_t channel, bool storage) : storage_(storage), channel_(channel) {}

CPrepositionList::~CPrepositionList() {
  CAutoLock guard(lock_);
  store_.Release();
}

void CPrepositionList::SetComm(IPrepositionComm* comm, uint32_t capacity) {
  CAutoLock guard(lock_);
  comm_ = comm;
  capacity_ = capacity;
}

bool CPrepositionList::SetStorage(const TSmartPtr<CXMLPrepositionReader>& store) {
  CAutoLock guard(lock_);
  store_ = store;
  if (!store_) return false;
  Load();
  return true;
}

bool CPrepositionList::IsValidName(const std::wstring& name) {
  return !name.empty() && name.find_first_of(L"&!<>'\"") == std::wstring::npos;
}

uint32_t CPrepositionList::GetCount() {
  CAutoLock guard(lock_);
  return static_cast<uint32_t>(order_.size());
}

bool CPrepositionList::GetName(uint32_t index, std::wstring& name) {
  CAutoLock guard(lock_);
  if (index >= order_.size()) return false;
  auto it = names_.find(order_[index]);
  if (it == names_.end()) return false;
  name = it->second;
  return true;
}

bool CPrepositionList::GetCurrentName(std::wstring& name) {
  CAutoLock guard(lock_);
  const int32_t current = current_;
  if (current < 0 || static_cast<size_t>(current) >= order_.size()) return false;
  return GetName(static_cast<uint32_t>(current), name);
}

// Lock-free: a move must not wait while a preset request holds the list
// waiting for the camera's answer.
void CPrepositionList::PositionChanged() { current_ = -1; }

bool CPrepositionList::FindSlot(const std::wstring& name, uint32_t& slot) {
  for (const auto& [candidate, candidateName] : names_) {
    if (candidateName == name) {
      slot = candidate;
      return true;
    }
  }
  return false;
}

int32_t CPrepositionList::PositionOf(uint32_t slot) {
  auto it = std::find(order_.begin(), order_.end(), slot);
  return it == order_.end() ? -1 : static_cast<int32_t>(it - order_.begin());
}

int32_t CPrepositionList::AddPreposition(const std::wstring& name) {
  IPrepositionComm* comm = nullptr;
  {
    CAutoLock guard(lock_);
    comm = comm_;
  }
  if (comm == nullptr) return ipcapture::kPtzNotSent;
  if (!IsValidName(name)) {
    comm->DebugMessage(1, "%s: A preposition \"%s\" cannot be added - the name is invalid.", kAdd,
                       WideToUtf8(name).c_str());
    return ipcapture::kPtzInvalidArgument;
  }
  CAutoLock guard(lock_);
  if (current_ != -1) return RenameCurrentPreposition(name);
  if (order_.size() >= capacity_) {
    comm_->DebugMessage(1,
                        "%s: A preposition \"%s\" cannot be added. Camera supports saving not more than %u "
                        "prepositions.",
                        kAdd, WideToUtf8(name).c_str(), capacity_);
    return ipcapture::kPtzCapacityReached;
  }
  uint32_t slot = 0;
  while (slot < capacity_ && names_.count(slot) != 0) ++slot;
  if (slot >= capacity_) return ipcapture::kPtzCapacityReached;
  if (!comm_->SavePreposition(slot, name)) return ipcapture::kPtzNotSent;
  names_[slot] = name;
  order_.push_back(slot);
  const auto position = static_cast<uint32_t>(order_.size() - 1);
  current_ = static_cast<int32_t>(position);
  if (!storage_) return ipcapture::kPtzOk;
  return WriteEntry(position, slot, name) ? ipcapture::kPtzOk : ipcapture::kPtzNotSent;
}

int32_t CPrepositionList::RenameCurrentPreposition(const std::wstring& name) {
  CAutoLock guard(lock_);
  const int32_t current = current_;
  if (current == -1) return ipcapture::kPtzNotSent;
  if (current < 0 || static_cast<size_t>(current) >= order_.size()) return ipcapture::kPtzInvalidArgument;
  const uint32_t slot = order_[static_cast<size_t>(current)];
  auto it = names_.find(slot);
  if (it == names_.end()) return ipcapture::kPtzNotSent;
  bool ok = false;
  if (storage_) {
    ok = WriteEntry(static_cast<uint32_t>(current), slot, name);
  } else {
    ok = comm_ != nullptr && comm_->SavePreposition(slot, name);
  }
  if (!ok) return ipcapture::kPtzNotSent;
  if (comm_ != nullptr) {
    comm_->DebugMessage(3, "%s: A preposition with index %d was renamed from \"%s\" to \"%s\".",
                        "orbisan::CPrepositionList::RenameCurrentPreposition", current, WideToUtf8(it->second).c_str(),
                        WideToUtf8(name).c_str());
  }
  it->second = name;
  return ipcapture::kPtzOk;
}

bool CPrepositionList::GoTo(const std::wstring& name, uint32_t value) {
  if (name.empty()) return false;
  CAutoLock guard(lock_);
  uint32_t slot = 0;
  if (!FindSlot(name, slot)) return false;
  const int32_t position = PositionOf(slot);
  if (position < 0) return false;
  if (position == current_) return true;
  if (comm_ == nullptr || !comm_->GoToPreposition(slot, name, value)) return false;
  current_ = position;
  return true;
}

bool CPrepositionList::RemovePreposition(const std::wstring& name) {
  if (name.empty()) return false;
  CAutoLock guard(lock_);
  uint32_t slot = 0;
  if (!FindSlot(name, slot) || comm_ == nullptr) return false;
  if (comm_->RemovePreposition(slot, name)) {
    names_.erase(slot);
    order_.erase(std::remove(order_.begin(), order_.end(), slot), order_.end());
  }
  current_ = -1;
  return storage_ ? SaveAll() : true;
}

void CPrepositionList::Load() {
  CAutoLock guard(lock_);
  names_.clear();
  order_.clear();
  current_ = -1;
  if (!store_) return;
  for (uint32_t position = 0; position < capacity_; ++position) {
    std::wstring name;
    uint32_t slot = 0;
    if (!store_->ReadEntry(channel_, position, name, slot)) continue;
    // A hand-edited file may name a slot the camera lacks or one twice; such
    // entries would break the one-slot-one-preset rule, so they are skipped.
    if (slot >= capacity_ || names_.count(slot) != 0) continue;
    names_[slot] = name;
    order_.push_back(slot);
  }
}

bool CPrepositionList::SaveAll() {
  CAutoLock guard(lock_);
  if (!store_) return false;
  store_->SetAutoSave(false);
  store_->ClearChannel(channel_);
  bool ok = true;
  for (size_t position = 0; position < order_.size() && ok; ++position) {
    const uint32_t slot = order_[position];
    ok = store_->WriteEntry(channel_, static_cast<uint32_t>(position), names_[slot], slot);
  }
  const bool saved = store_->SetAutoSave(true);
  return ok && saved;
}

bool CPrepositionList::WriteEntry(uint32_t position, uint32_t slot, const std::wstring& name) {
  CAutoLock guard(lock_);
  if (!store_) return false;
  return store_->WriteEntry(channel_, position, name, slot);
}

}  // namespace orbisan

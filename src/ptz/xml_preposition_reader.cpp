#include "ptz/xml_preposition_reader.h"

#include <sys/stat.h>

#include <cstdio>

#include "runtime/format.h"
#include "runtime/text_utils.h"

namespace orbisan {

namespace {

bool FileExists(const std::string& name) {
  struct stat info {};
  return ::stat(name.c_str(), &info) == 0;
}

// Strict unsigned decimal: digits only, no sign, no overflow.
bool ParseSlot(const std::string& text, uint32_t& slot) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > UINT32_MAX) return false;
  slot = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

CXMLPrepositionReader::CXMLPrepositionReader(std::string rootName, std::string baseDirectory)
    : rootName_(std::move(rootName)), settings_(std::move(baseDirectory)) {}

CXMLPrepositionReader::~CXMLPrepositionReader() {
  CAutoLock guard(lock_);
  settings_.Close();
}

bool CXMLPrepositionReader::Initialize(const std::string& fileName) {
  CAutoLock guard(lock_);
  bool loaded = settings_.LoadFile(fileName);
  if (loaded && !settings_.NodeExists(rootName_)) {
    // Another root: the file is not this store's (or belongs to another name).
    settings_.Close();
    loaded = false;
  }
  if (!loaded && !settings_.IsLoaded()) {
    const std::string fullName = settings_.ResolveName(fileName);
    // Presets of other channels may be in there: keep the bytes for a person
    // to rescue instead of writing a new file over them.
    if (FileExists(fullName) && std::rename(fullName.c_str(), (fullName + ".unreadable").c_str()) != 0) {
      autoSave_ = false;
      return false;
    }
    if (settings_.CreateDocumentFile(fileName, rootName_)) loaded = settings_.LoadFile(fileName);
  }
  autoSave_ = loaded;
  return loaded;
}

std::string CXMLPrepositionReader::ChannelPath(uint32_t channel) const {
  return Format("%s/%s%.2u", rootName_.c_str(), "PtzChannel", channel + 1);
}

std::string CXMLPrepositionReader::EntryPath(uint32_t channel, uint32_t position) const {
  return ChannelPath(channel) + Format("/%s%.3u", "Preposition", position);
}

bool CXMLPrepositionReader::ReadEntry(uint32_t channel, uint32_t position, std::wstring& name, uint32_t& slot) {
  CAutoLock guard(lock_);
  const std::string entry = EntryPath(channel, position);
  const std::string nameText = settings_.GetValue(entry + "/Name");
  if (nameText.empty()) return false;
  const std::wstring wide = Utf8ToWide(nameText);
  if (wide.empty()) return false;
  uint32_t value = 0;
  if (!ParseSlot(settings_.GetValue(entry + "/Slot"), value)) return false;
  name = wide;
  slot = value;
  return true;
}

bool CXMLPrepositionReader::WriteEntry(uint32_t channel, uint32_t position, const std::wstring& name, uint32_t slot) {
  CAutoLock guard(lock_);
  const std::string entry = EntryPath(channel, position);
  if (!settings_.SetValue(entry + "/Name", WideToUtf8(name))) return false;
  if (!settings_.SetValue(entry + "/Slot", Format("%u", slot))) return false;
  return !autoSave_ || settings_.Save();
}

bool CXMLPrepositionReader::ClearChannel(uint32_t channel) {
  CAutoLock guard(lock_);
  const std::string path = ChannelPath(channel);
  if (!settings_.NodeExists(path) || !settings_.DeleteNode(path)) return false;
  return !autoSave_ || settings_.Save();
}

bool CXMLPrepositionReader::SetAutoSave(bool autoSave) {
  CAutoLock guard(lock_);
  const bool turnedOn = autoSave && !autoSave_;
  autoSave_ = autoSave;
  return !turnedOn || settings_.Save();
}

}  // namespace orbisan

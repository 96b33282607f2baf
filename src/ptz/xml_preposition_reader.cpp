#include "ptz/xml_preposition_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>

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

// Moves the file to the first free rescue name; link fails rather than
// replace a name that exists, so no copy kept aside is ever lost.
bool KeepAside(const std::string& fullName) {
  for (int n = 0; n < 1000; ++n) {
    const std::string aside = fullName + ".unreadable" + (n == 0 ? std::string() : Format(".%d", n));
    if (::link(fullName.c_str(), aside.c_str()) == 0) return ::unlink(fullName.c_str()) == 0;
    if (errno != EEXIST) return false;
  }
  return false;
}

}  // namespace

// One file's document, shared by every store of the process that names it.
struct CXMLPrepositionReader::Document {
  explicit Document(const std::string& baseDirectory) : settings(baseDirectory) {}
  CRecursiveLock lock;
  CXMLSettingsAPI settings;
  bool loaded = false;
};

namespace {

std::mutex gDocumentsMutex;
std::map<std::string, std::weak_ptr<void>> gDocuments;  // by full file name and root

}  // namespace

CXMLPrepositionReader::CXMLPrepositionReader(std::string rootName, std::string baseDirectory)
    : rootName_(std::move(rootName)), baseDirectory_(std::move(baseDirectory)) {}

CXMLPrepositionReader::~CXMLPrepositionReader() = default;

std::string CXMLPrepositionReader::GetFileName() const {
  if (!document_) return {};
  CAutoLock guard(document_->lock);
  return document_->settings.GetFileName();
}

bool CXMLPrepositionReader::Initialize(const std::string& fileName) {
  const std::string key = CPellaFileBase(baseDirectory_).ResolveName(fileName) + '\n' + rootName_;
  std::shared_ptr<Document> document;
  {
    std::lock_guard<std::mutex> guard(gDocumentsMutex);
    document = std::static_pointer_cast<Document>(gDocuments[key].lock());
    if (!document) {
      document = std::make_shared<Document>(baseDirectory_);
      gDocuments[key] = document;
    }
    for (auto it = gDocuments.begin(); it != gDocuments.end();) it = it->second.expired() ? gDocuments.erase(it) : ++it;
  }
  document_ = document;
  CAutoLock guard(document->lock);
  CXMLSettingsAPI& settings = document->settings;
  if (!document->loaded) {
    bool loaded = settings.LoadFile(fileName);
    if (loaded && !settings.NodeExists(rootName_)) {
      // Another root: the file is not this store's (or belongs to another name).
      settings.Close();
      loaded = false;
    }
    if (!loaded && !settings.IsLoaded()) {
      const std::string fullName = settings.ResolveName(fileName);
      // Presets of other channels may be in there: keep the bytes for a person
      // to rescue instead of writing a new file over them.
      if (FileExists(fullName) && !KeepAside(fullName)) {
        autoSave_ = false;
        return false;
      }
      if (settings.CreateDocumentFile(fileName, rootName_)) loaded = settings.LoadFile(fileName);
    }
    document->loaded = loaded;
  }
  autoSave_ = document->loaded;
  return autoSave_;
}

std::string CXMLPrepositionReader::ChannelPath(uint32_t channel) const {
  return Format("%s/%s%.2u", rootName_.c_str(), "PtzChannel", channel + 1);
}

std::string CXMLPrepositionReader::EntryPath(uint32_t channel, uint32_t position) const {
  return ChannelPath(channel) + Format("/%s%.3u", "Preposition", position);
}

bool CXMLPrepositionReader::ReadEntry(uint32_t channel, uint32_t position, std::wstring& name, uint32_t& slot) {
  if (!document_) return false;
  CAutoLock guard(document_->lock);
  CXMLSettingsAPI& settings = document_->settings;
  const std::string entry = EntryPath(channel, position);
  const std::string nameText = settings.GetValue(entry + "/Name");
  if (nameText.empty()) return false;
  const std::wstring wide = Utf8ToWide(nameText);
  if (wide.empty()) return false;
  uint32_t value = 0;
  if (!ParseSlot(settings.GetValue(entry + "/Slot"), value)) return false;
  name = wide;
  slot = value;
  return true;
}

bool CXMLPrepositionReader::WriteEntry(uint32_t channel, uint32_t position, const std::wstring& name, uint32_t slot) {
  if (!document_) return false;
  CAutoLock guard(document_->lock);
  CXMLSettingsAPI& settings = document_->settings;
  const std::string entry = EntryPath(channel, position);
  if (!settings.SetValue(entry + "/Name", WideToUtf8(name))) return false;
  if (!settings.SetValue(entry + "/Slot", Format("%u", slot))) return false;
  return !autoSave_ || settings.Save();
}

bool CXMLPrepositionReader::ClearChannel(uint32_t channel) {
  if (!document_) return false;
  CAutoLock guard(document_->lock);
  CXMLSettingsAPI& settings = document_->settings;
  const std::string path = ChannelPath(channel);
  if (!settings.NodeExists(path) || !settings.DeleteNode(path)) return false;
  return !autoSave_ || settings.Save();
}

bool CXMLPrepositionReader::SetAutoSave(bool autoSave) {
  if (!document_) return !autoSave;
  CAutoLock guard(document_->lock);
  const bool turnedOn = autoSave && !autoSave_;
  autoSave_ = autoSave;
  return !turnedOn || document_->settings.Save();
}

}  // namespace orbisan

#include "ptz/base_ptz_handler.h"

#include <new>

namespace orbisan {

namespace {
constexpr const char* kInitialize = "orbisan::CBasePTZHandler::InitializeXMLStorage";
}

CBasePTZHandler::CBasePTZHandler(IDriver* driver, uint32_t channelCount, std::string rootName)
    : driver_(driver),
      channelCount_(channelCount),
      fileNamePattern_(rootName.empty() ? std::string() : rootName + "_%s.preset"),
      rootName_(std::move(rootName)) {}

CBasePTZHandler::~CBasePTZHandler() { CBasePTZHandler::ReleaseControls(); }

ipcapture::IIPPTZApi* CBasePTZHandler::GetPTZApiEx(uint32_t channel) {
  if (channel >= channelCount_) return nullptr;
  std::lock_guard<std::mutex> lock(controlsMutex_);
  auto found = controls_.find(channel);
  if (found != controls_.end() && found->second) return found->second.get();

  const bool storage = !fileNamePattern_.empty() && !rootName_.empty();
  if (storage && !store_) InitializeXMLStorage();
  std::unique_ptr<CBasePTZControl> control(CreatePTZControl(channel, storage));
  if (!control) return nullptr;
  const bool opened = storage ? control->OpenWithStorage(store_) : control->Open();
  if (!opened) return nullptr;
  auto* result = control.get();
  controls_[channel] = std::move(control);
  return result;
}

void CBasePTZHandler::ReleaseControls() {
  std::lock_guard<std::mutex> lock(controlsMutex_);
  controls_.clear();
  store_.Release();
}

bool CBasePTZHandler::InitializeXMLStorage() {
  std::string fileName;
  if (!GenerateXMLStorageFileName(fileName)) return false;
  auto* reader = new (std::nothrow) CXMLPrepositionReader(rootName_, driver_->GetHostDirectory());
  if (reader == nullptr) {
    driver_->DebugMessage(kLogError, "%s: not enough memory for creating CXMLPrepositionReader object", kInitialize);
    return false;
  }
  store_.Reset(reader);
  if (!reader->Initialize(fileName)) {
    driver_->DebugMessage(kLogError, "%s: cannot initialize CXMLPrepositionReader object with parameter \"%s\"",
                          kInitialize, fileName.c_str());
    return false;
  }
  return true;
}

}  // namespace orbisan

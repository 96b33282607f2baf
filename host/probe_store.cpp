#include "host/probe_store.h"

#include <chrono>
#include <cstdio>

namespace strandline::host {

namespace {

std::string JsonText(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// One shell word: as it is when it holds nothing the shell would act on,
// else in single quotes.
std::string ShellWord(const std::string& text) {
  bool plain = !text.empty();
  for (unsigned char c : text) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      std::string("_-+=.,:/@%").find(static_cast<char>(c)) != std::string::npos;
    plain = plain && safe;
  }
  if (plain) return text;
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string Join(const std::vector<uint32_t>& values) {
  std::string out;
  for (uint32_t v : values) out += (out.empty() ? "" : ",") + std::to_string(v);
  return out;
}

bool IsProperty(uint32_t id) { return id >= 1 && id <= 16; }

}  // namespace

ProbeStore::ProbeStore() {
  resolutionSink_.store = this;
  frameRateSink_.store = this;
}

void ProbeStore::SetCapability(uint32_t id, uint32_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  capabilities_.emplace_back(id, value);
}

void ProbeStore::SetDeviceName(const char* name) {
  std::lock_guard<std::mutex> lock(mutex_);
  deviceName_ = name != nullptr ? name : "";
}

orbisan::ipcapture::ICapabilityValue* ProbeStore::GetConnectionField(uint32_t index) {
  std::lock_guard<std::mutex> lock(mutex_);
  Field& field = fields_[index];
  field.store = this;
  field.index = index;
  return &field;
}

orbisan::ipcapture::ICapabilityItem* ProbeStore::CreateItem(uint32_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  items_[id] = Item{};
  ItemWriter& writer = itemWriters_[id];
  writer.store = this;
  writer.id = id;
  return &writer;
}

void ProbeStore::Field::SetValue(const char* text) {
  std::lock_guard<std::mutex> lock(store->mutex_);
  store->connection_[index] = text != nullptr ? text : "";
}

void ProbeStore::ItemWriter::SetValue(const char* text) {
  std::lock_guard<std::mutex> lock(store->mutex_);
  store->items_[id].value = text != nullptr ? text : "";
}

void ProbeStore::ItemWriter::SetName(const char* name) {
  std::lock_guard<std::mutex> lock(store->mutex_);
  store->items_[id].name = name != nullptr ? name : "";
}

void ProbeStore::ResolutionSink::Add(const char* text, uint32_t width, uint32_t height, uint32_t frameValue) {
  std::lock_guard<std::mutex> lock(store->mutex_);
  store->resolutions_.push_back({text != nullptr ? text : "", width, height, frameValue});
}

void ProbeStore::FrameRateSink::SetDefault(uint32_t value) {
  std::lock_guard<std::mutex> lock(store->mutex_);
  store->defaultFrameRate_ = value;
}

void ProbeStore::FrameRateSink::Add(uint32_t value) {
  std::lock_guard<std::mutex> lock(store->mutex_);
  store->frameRates_.push_back(value);
}

std::string ProbeStore::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out = "device=" + deviceName_ + "\n";
  for (const auto& [id, value] : capabilities_)
    out += "capability " + std::to_string(id) + "=" + std::to_string(value) + "\n";
  for (const auto& [id, item] : items_) {
    if (!IsProperty(id)) out += "item " + std::to_string(id) + " " + item.name + "=" + item.value + "\n";
  }
  for (const Resolution& r : resolutions_) {
    out += "resolution " + std::to_string(r.width) + "x" + std::to_string(r.height) +
           " frame=" + std::to_string(r.frameValue) + "\n";
  }
  out += "framerates default=" + (defaultFrameRate_ ? std::to_string(*defaultFrameRate_) : std::string()) +
         " values=" + Join(frameRates_) + "\n";
  for (const auto& [index, value] : connection_) {
    out += "connection " + std::to_string(index) + "=" + ShownField(index, value) + "\n";
  }
  for (const auto& [id, item] : items_) {
    if (IsProperty(id)) out += "property " + std::to_string(id) + "=" + item.value + "\n";
  }
  return out;
}

std::string ProbeStore::Json() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out = "{\"device\":" + JsonText(deviceName_) + ",\"capabilities\":[";
  for (size_t i = 0; i < capabilities_.size(); ++i) {
    out += std::string(i ? "," : "") + "{\"id\":" + std::to_string(capabilities_[i].first) +
           ",\"value\":" + std::to_string(capabilities_[i].second) + "}";
  }
  out += "],\"items\":{";
  bool first = true;
  for (const auto& [id, item] : items_) {
    if (IsProperty(id)) continue;
    out += std::string(first ? "" : ",") + "\"" + std::to_string(id) + "\":{\"name\":" + JsonText(item.name) +
           ",\"value\":" + JsonText(item.value) + "}";
    first = false;
  }
  out += "},\"resolutions\":[";
  for (size_t i = 0; i < resolutions_.size(); ++i) {
    const Resolution& r = resolutions_[i];
    out += std::string(i ? "," : "") + "{\"width\":" + std::to_string(r.width) +
           ",\"height\":" + std::to_string(r.height) + ",\"frame\":" + std::to_string(r.frameValue) + "}";
  }
  out += "],\"framerates\":{\"default\":" + (defaultFrameRate_ ? std::to_string(*defaultFrameRate_) : "null") +
         ",\"values\":[" + Join(frameRates_) + "]},\"connection\":{";
  first = true;
  for (const auto& [index, value] : connection_) {
    out += std::string(first ? "" : ",") + "\"" + std::to_string(index) + "\":" + JsonText(ShownField(index, value));
    first = false;
  }
  out += "},\"properties\":{";
  first = true;
  for (const auto& [id, item] : items_) {
    if (!IsProperty(id)) continue;
    out += std::string(first ? "" : ",") + "\"" + std::to_string(id) + "\":" + JsonText(item.value);
    first = false;
  }
  return out + "}}\n";
}

std::string ProbeStore::Params() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out;
  for (const auto& [id, item] : items_) {
    if (!IsProperty(id)) continue;
    out += (out.empty() ? "" : " ") + std::string("--param ") + ShellWord(std::to_string(id) + "=" + item.value);
  }
  return out + "\n";
}

void ProbeCallback::OnCompleted() { Finish(Outcome::kCompleted, 0, nullptr); }

void ProbeCallback::OnFailed(uint32_t status, const char* message) { Finish(Outcome::kFailed, status, message); }

void ProbeCallback::OnTerminated() { Finish(Outcome::kTerminated, 0, "the query did not end in time"); }

void ProbeCallback::Finish(Outcome outcome, uint32_t status, const char* message) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (outcome_ != Outcome::kNone) return;
    outcome_ = outcome;
    status_ = status;
    message_ = message != nullptr ? message : "";
  }
  changed_.notify_all();
}

ProbeCallback::Outcome ProbeCallback::Wait(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return outcome_ != Outcome::kNone; });
  return outcome_;
}

uint32_t ProbeCallback::Status() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

std::string ProbeCallback::Message() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return message_;
}

}  // namespace strandline::host

#include "xml/xml_settings_api.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <pugixml.hpp>

#include "xml/xml_file_reader.h"

namespace orbisan {

namespace {

// Line ends are kept as they are so that a stored text reads back unchanged.
constexpr unsigned kParseFlags =
    (pugi::parse_default & ~pugi::parse_eol) | pugi::parse_declaration | pugi::parse_ws_pcdata_single;
// The declaration is part of the document, so none is added on output.
constexpr unsigned kFormatFlags =
    pugi::format_indent | pugi::format_no_declaration | pugi::format_attribute_single_quote;

bool IsNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

bool IsNameChar(unsigned char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

bool WriteAll(int fd, const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Writes to a temporary file of this process, flushed to the disk before it
// is renamed over the old one, and the rename flushed with its directory: a
// crash or power cut leaves the old file or the new one, never a torn one.
// Saves of the process go one at a time, so the temporary name is unique.
bool WriteDocument(const pugi::xml_document& document, const std::string& fileName) {
  if (fileName.empty()) return false;
  struct Collect : pugi::xml_writer {
    std::string bytes;
    void write(const void* data, size_t size) override { bytes.append(static_cast<const char*>(data), size); }
  } out;
  document.save(out, "  ", kFormatFlags, pugi::encoding_utf8);
  static std::mutex writing;
  std::lock_guard<std::mutex> guard(writing);
  const std::string temporary = TemporaryName(fileName);
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, out.bytes) && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !written || std::rename(temporary.c_str(), fileName.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  const size_t slash = fileName.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : fileName.substr(0, slash + 1);
  const int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

}  // namespace

std::string TemporaryName(const std::string& fileName) { return fileName + ".tmp." + std::to_string(::getpid()); }

bool IsXmlElementName(const std::string& name) {
  if (name.empty() || !IsNameStart(static_cast<unsigned char>(name[0]))) return false;
  for (char c : name) {
    if (!IsNameChar(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

CXMLSettingsAPI::CXMLSettingsAPI(std::string baseDirectory) : CPellaFileBase(std::move(baseDirectory)) {}

CXMLSettingsAPI::~CXMLSettingsAPI() {
  CAutoLock guard(lock_);
  document_.reset();
  useCount_ = 0;
}

bool CXMLSettingsAPI::LoadFile(const std::string& name) {
  const std::string fileName = ResolveName(name);
  std::string bytes;
  if (!ReadXmlFile(fileName, &bytes)) return false;
  CAutoLock guard(lock_);
  try {
    auto document = std::make_unique<pugi::xml_document>();
    if (!document->load_buffer(bytes.data(), bytes.size(), kParseFlags)) return false;
    if (!document->document_element()) return false;
    document_ = std::move(document);
    SetFileName(fileName);
    ++useCount_;
    return true;
  } catch (...) {
    return false;
  }
}

bool CXMLSettingsAPI::CreateDocumentFile(const std::string& name, const std::string& rootName) {
  const std::string fileName = ResolveName(name);
  if (fileName.empty() || !IsXmlElementName(rootName)) return false;
  try {
    pugi::xml_document document;
    pugi::xml_node declaration = document.append_child(pugi::node_declaration);
    declaration.append_attribute("version").set_value("1.0");
    declaration.append_attribute("encoding").set_value("utf-8");
    document.append_child(rootName.c_str());
    return WriteDocument(document, fileName);
  } catch (...) {
    return false;
  }
}

bool CXMLSettingsAPI::IsLoaded() {
  CAutoLock guard(lock_);
  return document_ != nullptr;
}

bool CXMLSettingsAPI::SplitPath(const std::string& path, std::vector<std::string>* pieces) {
  pieces->clear();
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    std::string piece = path.substr(start, slash - start);
    if (!piece.empty()) {
      if (!IsXmlElementName(piece)) return false;
      pieces->push_back(std::move(piece));
    }
    start = slash + 1;
  }
  return !pieces->empty();
}

pugi::xml_node CXMLSettingsAPI::Find(const std::vector<std::string>& pieces) {
  if (document_ == nullptr) return {};
  pugi::xml_node node = document_->document_element();
  if (!node || pieces.empty() || pieces[0] != node.name()) return {};
  for (size_t i = 1; i < pieces.size() && node; ++i) node = node.child(pieces[i].c_str());
  return node;
}

std::string CXMLSettingsAPI::GetValue(const std::string& path) {
  std::vector<std::string> pieces;
  if (!SplitPath(path, &pieces)) return {};
  CAutoLock guard(lock_);
  return Find(pieces).text().get();
}

bool CXMLSettingsAPI::SetValue(const std::string& path, const std::string& text) {
  if (text.find('\0') != std::string::npos) return false;
  std::vector<std::string> pieces;
  if (!SplitPath(path, &pieces)) return false;
  CAutoLock guard(lock_);
  if (document_ == nullptr) return false;
  try {
    pugi::xml_node node = document_->document_element();
    if (!node || pieces[0] != node.name()) return false;
    for (size_t i = 1; i < pieces.size(); ++i) {
      pugi::xml_node child = node.child(pieces[i].c_str());
      if (!child) child = node.append_child(pieces[i].c_str());
      if (!child) return false;
      node = child;
    }
    // The element ends up with exactly one text child, so the value reads
    // back whole whatever text or CDATA pieces it held before.
    for (pugi::xml_node child = node.first_child(); child;) {
      pugi::xml_node next = child.next_sibling();
      if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) node.remove_child(child);
      child = next;
    }
    return node.text().set(text.c_str());
  } catch (...) {
    return false;
  }
}

bool CXMLSettingsAPI::NodeExists(const std::string& path) {
  std::vector<std::string> pieces;
  if (!SplitPath(path, &pieces)) return false;
  CAutoLock guard(lock_);
  return static_cast<bool>(Find(pieces));
}

bool CXMLSettingsAPI::DeleteNode(const std::string& path) {
  std::vector<std::string> pieces;
  if (!SplitPath(path, &pieces) || pieces.size() < 2) return false;
  CAutoLock guard(lock_);
  pugi::xml_node node = Find(pieces);
  return node && node.parent().remove_child(node);
}

bool CXMLSettingsAPI::Save() {
  CAutoLock guard(lock_);
  if (document_ == nullptr) return false;
  try {
    return WriteDocument(*document_, GetFileName());
  } catch (...) {
    return false;
  }
}

void CXMLSettingsAPI::Close() {
  CAutoLock guard(lock_);
  if (useCount_ > 0 && --useCount_ == 0) document_.reset();
}

}  // namespace orbisan

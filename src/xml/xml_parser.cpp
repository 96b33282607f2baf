#include "xml/xml_parser.h"

#include <pugixml.hpp>

#include "runtime/text_utils.h"
#include "xml/xml_file_reader.h"

namespace orbisan {

namespace {

// All character data below a node, in document order; the node's value for
// attributes and text nodes.
std::string TextOf(const pugi::xpath_node& selected) {
  if (selected.attribute()) return selected.attribute().value();
  pugi::xml_node node = selected.node();
  if (!node) return {};
  if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) return node.value();
  std::string text;
  // Iterative walk: documents may nest deeply.
  pugi::xml_node current = node.first_child();
  while (current) {
    if (current.type() == pugi::node_pcdata || current.type() == pugi::node_cdata) text += current.value();
    if (current.first_child()) {
      current = current.first_child();
      continue;
    }
    while (current && current != node && !current.next_sibling()) current = current.parent();
    if (!current || current == node) break;
    current = current.next_sibling();
  }
  return text;
}

}  // namespace

CXMLParser::CXMLParser() = default;

CXMLParser::~CXMLParser() { Close(); }

bool CXMLParser::Load(const std::string& path) {
  std::string bytes;
  if (!ReadXmlFile(path, &bytes)) return false;
  CAutoLock guard(lock_);
  if (loaded_) return true;
  if (!LoadBuffer(bytes.data(), bytes.size())) return false;
  path_ = path;
  return true;
}

bool CXMLParser::LoadBuffer(const void* data, size_t size) {
  CAutoLock guard(lock_);
  if (loaded_) return true;
  try {
    auto document = std::make_unique<pugi::xml_document>();
    pugi::xml_parse_result result = document->load_buffer(data, size);
    if (!result) return false;
    document_ = std::move(document);
    loaded_ = true;
    path_.clear();
  } catch (...) {
    return false;
  }
  return true;
}

bool CXMLParser::IsLoaded() {
  CAutoLock guard(lock_);
  return loaded_;
}

bool CXMLParser::NodeExists(const std::string& xpath) {
  CAutoLock guard(lock_);
  if (!loaded_) return false;
  try {
    return static_cast<bool>(document_->select_node(xpath.c_str()));
  } catch (...) {
    return false;
  }
}

std::string CXMLParser::GetNodeText(const std::string& xpath) {
  CAutoLock guard(lock_);
  if (!loaded_) return {};
  try {
    pugi::xpath_node selected = document_->select_node(xpath.c_str());
    if (!selected) return {};
    return Trim(TextOf(selected));
  } catch (...) {
    return {};
  }
}

void CXMLParser::Close() {
  CAutoLock guard(lock_);
  try {
    document_.reset();
  } catch (...) {
  }
  loaded_ = false;
  path_.clear();
}

std::string XPathLiteral(const std::string& text) {
  if (text.find('"') == std::string::npos) return "\"" + text + "\"";
  if (text.find('\'') == std::string::npos) return "'" + text + "'";
  // Both quote kinds: join double-quoted pieces with '"' between them.
  std::string out = "concat(";
  size_t start = 0;
  bool first = true;
  while (true) {
    size_t quote = text.find('"', start);
    std::string piece = text.substr(start, quote == std::string::npos ? std::string::npos : quote - start);
    if (!first) out += ",";
    out += "\"" + piece + "\"";
    first = false;
    if (quote == std::string::npos) break;
    out += ",'\"'";
    start = quote + 1;
  }
  out += ")";
  return out;
}

}  // namespace orbisan

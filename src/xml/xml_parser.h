#pragma once

#include <memory>
#include <string>

#include "runtime/recursive_lock.h"

namespace pugi {
class xml_document;
}

namespace orbisan {

// Read-only XPath access to one XML file. Lives for a single lookup: Load,
// a few queries, Close. Every query on a parser that holds no document
// answers "missing".
class CXMLParser {
 public:
  CXMLParser();
  virtual ~CXMLParser();
  CXMLParser(const CXMLParser&) = delete;
  CXMLParser& operator=(const CXMLParser&) = delete;

  // False when the file cannot be opened or is not well-formed XML. A parser
  // that already holds a document keeps it and reports success.
  bool Load(const std::string& path);
  // Same, from bytes in memory (the path is only remembered).
  bool LoadBuffer(const void* data, size_t size);
  bool IsLoaded();
  const std::string& GetPath() const { return path_; }

  // An expression that does not compile counts as selecting nothing.
  bool NodeExists(const std::string& xpath);
  // Text of the first selected node (all its text, trimmed), or empty.
  std::string GetNodeText(const std::string& xpath);

  void Close();

 private:
  CRecursiveLock lock_;
  std::unique_ptr<pugi::xml_document> document_;
  bool loaded_ = false;
  std::string path_;
};

// The XPath literal for a text: double-quoted when possible, else
// single-quoted, else a concat() of pieces. Keeps outside text (a device
// address) from changing the meaning of an expression it is put into.
std::string XPathLiteral(const std::string& text);

}  // namespace orbisan

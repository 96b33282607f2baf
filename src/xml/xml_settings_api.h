#pragma once

#include <memory>
#include <string>
#include <vector>

#include "runtime/recursive_lock.h"
#include "xml/xml_pella_file_base.h"

namespace pugi {
class xml_document;
class xml_node;
}  // namespace pugi

namespace orbisan {

// A read-write XML document kept in one file. Values are element texts
// addressed by paths of element names joined by "/", starting with the root
// element ("Root/Group/Item"). Shared by several users: each successful
// LoadFile counts one user, and the document is released when the last of
// them closes.
class CXMLSettingsAPI : public CPellaFileBase {
 public:
  explicit CXMLSettingsAPI(std::string baseDirectory = {});
  ~CXMLSettingsAPI() override;
  CXMLSettingsAPI(const CXMLSettingsAPI&) = delete;
  CXMLSettingsAPI& operator=(const CXMLSettingsAPI&) = delete;

  // Reads the file (which must exist and be well-formed). On failure a
  // document loaded before stays as it was.
  bool LoadFile(const std::string& name);
  // Writes a new file holding only the declaration and an empty root
  // element; the loaded document, if any, is not touched.
  bool CreateDocumentFile(const std::string& name, const std::string& rootName);
  bool IsLoaded();

  // Empty when any element on the path is missing.
  std::string GetValue(const std::string& path);
  // Creates the missing elements on the way. Fails for names that are not
  // XML element names, for a first piece other than the root element, and
  // for text that cannot be stored (an embedded NUL).
  bool SetValue(const std::string& path, const std::string& text);
  bool NodeExists(const std::string& path);
  // Removes the element with everything below it. The root element stays.
  bool DeleteNode(const std::string& path);

  // Writes the document to its file: to a temporary file first, flushed,
  // then renamed over the old one, so a failed write never leaves half a file.
  bool Save();
  void Close();

 private:
  static bool SplitPath(const std::string& path, std::vector<std::string>* pieces);
  pugi::xml_node Find(const std::vector<std::string>& pieces);

  CRecursiveLock lock_;
  std::unique_ptr<pugi::xml_document> document_;
  int useCount_ = 0;
};

// True for a name an XML element may carry.
bool IsXmlElementName(const std::string& name);

// Where Save writes before the rename: a name of this process alone.
std::string TemporaryName(const std::string& fileName);

}  // namespace orbisan

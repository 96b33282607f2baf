#pragma once

#include <string>

namespace orbisan {

// The file behind a document store: where a name without a directory
// goes, and the full name of the file in use.
class CPellaFileBase {
 public:
  // Names without a directory are placed in baseDirectory; an empty one
  // means the directory of the running executable.
  explicit CPellaFileBase(std::string baseDirectory = {});
  virtual ~CPellaFileBase() = default;

  const std::string& GetFileName() const { return fileName_; }
  const std::string& GetBaseDirectory() const { return baseDirectory_; }

  // The full name a given name stands for.
  std::string ResolveName(const std::string& name) const;

  // Directory of the running executable, ending with "/" (empty if unknown).
  static std::string ExecutableDirectory();

 protected:
  void SetFileName(std::string fileName) { fileName_ = std::move(fileName); }

 private:
  std::string baseDirectory_;
  std::string fileName_;
};

}  // namespace orbisan

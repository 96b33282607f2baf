#pragma once

#include <cstdint>
#include <string>

namespace orbisan {

// Outcome of a request: two numbers chosen by the caller and a message.
class CResultDef {
 public:
  CResultDef() = default;
  virtual ~CResultDef() = default;
  CResultDef(const CResultDef&) = default;
  CResultDef& operator=(const CResultDef&) = default;

  void SetResultEx(uint32_t category, uint32_t code, const char* format, ...) __attribute__((format(printf, 4, 5)));
  uint32_t GetCategory() const { return category_; }
  uint32_t GetCode() const { return code_; }
  const std::string& GetMessage() const { return message_; }

 private:
  uint32_t category_ = 0;
  uint32_t code_ = 0;
  std::string message_;
};

}  // namespace orbisan

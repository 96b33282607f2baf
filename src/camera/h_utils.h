#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "camera/http_sender.h"
#include "device/device_info.h"
#include "runtime/result_def.h"

namespace orbisan::HUtils {

// Result codes of RequestGetRD (category in brackets).
enum RequestCode : uint32_t {
  kRequestOk = 0,             // [3]
  kRequestStatus = 8,         // [1] non-2xx status other than 401/404
  kRequestNotFound = 9,       // [1] 404
  kRequestUnauthorized = 10,  // [1] 401 after the authentication retry
  kRequestNotSent = 11,       // [4] no response, or the request could not be sent
  kRequestNoBody = 12,        // [2] empty body where one was required
};

// One GET request, its outcome classified. Messages never show the password.
CResultDef RequestGetRD(Web::CHttpSender& http, const std::string& url, std::vector<char>& body, bool requireBody);
bool RequestGet(Web::CHttpSender& http, const std::string& url, bool requireBody);
// Empties answer; on success it holds the body.
bool RequestGet(Web::CHttpSender& http, const std::string& url, std::string& answer);

// The URL with the value of every "PWD=" item replaced by "***".
std::string MaskPassword(const std::string& url, const std::string& password);
// Whether user name and password can stand raw in a CGI query: no blanks,
// control characters, "#" (would cut the query) or "&" (would add items).
bool CredentialsSendable(const DEVICE_INFO& device);

// Answer text functions.
std::string FormatString(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string GetValue(const std::string& text, const std::string& key, const std::string& separator,
                     const std::string& lineEnds);
std::vector<std::string> GetValueList(const std::string& text, const std::string& key, const std::string& separator,
                                      const std::string& lineEnds, const std::string& listSeparator);
std::vector<std::string> Split(const std::string& text, const std::string& separator);
std::string RemoveChars(const std::string& text, const std::string& characters);
std::string Trim(const std::string& text);
std::string ToLower(const std::string& text);
bool ParseInt(const std::string& text, int& out);
// "&key=wanted" when the answer reports key with another value, else "".
std::string ChangeParam(const std::string& answer, const std::string& key, const std::string& wanted);
std::string ChangeParamU(const std::string& answer, const std::string& key, uint32_t wanted);

}  // namespace orbisan::HUtils

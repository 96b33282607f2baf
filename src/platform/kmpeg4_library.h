#pragma once

#include <string>

#include "platform/kmpeg4_api.h"

namespace orbisan {

// Every function of the vendor streaming library, resolved by name.
struct KMpeg4Library {
  KOpenInterfaceFn KOpenInterface = nullptr;
  KGetPortInfoByHTTPFn KGetPortInfoByHTTP = nullptr;
  KGetTCPTypeByHTTPFn KGetTCPTypeByHTTP = nullptr;
  KSetTCPTypeFn KSetTCPType = nullptr;
  KSetMediaConfigFn KSetMediaConfig = nullptr;
  KSetRawDataCallbackFn KSetRawDataCallback = nullptr;
  KHandleCallFn KConnect = nullptr;
  KHandleCallFn KStartStreaming = nullptr;
  KHandleActionFn KStop = nullptr;
  KHandleActionFn KStopStreaming = nullptr;
  KHandleActionFn KDisconnect = nullptr;
  KHandleActionFn KCloseInterface = nullptr;
  KGetAudioTokenFn KGetAudioToken = nullptr;
  KSendAudioFn KSendAudio = nullptr;
  KFreeAudioTokenFn KFreeAudioToken = nullptr;
};

inline constexpr const char* kKMpeg4LibraryName = "libKMpeg4.so";

// The library, loaded once for the process: first from hostDirectory (ending
// with "/"), then through the dynamic loader's search path. A library that
// is missing or lacks a function gives null and the reason in error; the
// next call tries again, so a library installed later is found without a
// restart. Once loaded it stays for the life of the process (its threads may
// still run code from it after a connection was abandoned).
const KMpeg4Library* LoadKMpeg4Library(const std::string& hostDirectory, std::string& error);

}  // namespace orbisan

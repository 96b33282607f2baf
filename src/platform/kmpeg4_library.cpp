#include "platform/kmpeg4_library.h"

#include <dlfcn.h>

#include <mutex>

namespace orbisan {

namespace {

std::mutex gLoadMutex;
KMpeg4Library gLibrary;
bool gLoaded = false;

template <typename Fn>
bool Resolve(void* module, const char* name, Fn& out, std::string& missing) {
  out = reinterpret_cast<Fn>(::dlsym(module, name));
  if (out != nullptr) return true;
  if (!missing.empty()) missing += ", ";
  missing += name;
  return false;
}

bool ResolveAll(void* module, KMpeg4Library& lib, std::string& missing) {
  bool ok = true;
  ok &= Resolve(module, "KOpenInterface", lib.KOpenInterface, missing);
  ok &= Resolve(module, "KGetPortInfoByHTTP", lib.KGetPortInfoByHTTP, missing);
  ok &= Resolve(module, "KGetTCPTypeByHTTP", lib.KGetTCPTypeByHTTP, missing);
  ok &= Resolve(module, "KSetTCPType", lib.KSetTCPType, missing);
  ok &= Resolve(module, "KSetMediaConfig", lib.KSetMediaConfig, missing);
  ok &= Resolve(module, "KSetRawDataCallback", lib.KSetRawDataCallback, missing);
  ok &= Resolve(module, "KConnect", lib.KConnect, missing);
  ok &= Resolve(module, "KStartStreaming", lib.KStartStreaming, missing);
  ok &= Resolve(module, "KStop", lib.KStop, missing);
  ok &= Resolve(module, "KStopStreaming", lib.KStopStreaming, missing);
  ok &= Resolve(module, "KDisconnect", lib.KDisconnect, missing);
  ok &= Resolve(module, "KCloseInterface", lib.KCloseInterface, missing);
  ok &= Resolve(module, "KGetAudioToken", lib.KGetAudioToken, missing);
  ok &= Resolve(module, "KSendAudio", lib.KSendAudio, missing);
  ok &= Resolve(module, "KFreeAudioToken", lib.KFreeAudioToken, missing);
  return ok;
}

}  // namespace

const KMpeg4Library* LoadKMpeg4Library(const std::string& hostDirectory, std::string& error) {
  std::lock_guard<std::mutex> guard(gLoadMutex);
  if (gLoaded) return &gLibrary;
  void* module = nullptr;
  std::string tried;
  if (!hostDirectory.empty()) {
    const std::string path = hostDirectory + kKMpeg4LibraryName;
    module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) tried = path + ", ";
  }
  if (module == nullptr) module = ::dlopen(kKMpeg4LibraryName, RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    error = std::string("the vendor streaming library ") + kKMpeg4LibraryName + " was not found (looked in " + tried +
            "then the loader path)";
    return nullptr;
  }
  KMpeg4Library lib;
  std::string missing;
  if (!ResolveAll(module, lib, missing)) {
    ::dlclose(module);
    error = std::string("the vendor streaming library ") + kKMpeg4LibraryName + " lacks " + missing;
    return nullptr;
  }
  gLibrary = lib;
  gLoaded = true;  // never closed: abandoned calls may still be running in it
  return &gLibrary;
}

}  // namespace orbisan

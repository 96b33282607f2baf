#pragma once

#include <cstdint>

#include "strandline/capability_query.h"

namespace orbisan {

// The one capability query module of the process, behind the Init, Start,
// Terminate and Uninit exports. Every function may be called from any thread.

// 1 when a module was created, 0 when one exists already.
uint32_t InitProcessCapabilityQuery(ipcapture::ICapabilityQueryCallback* callback, uint32_t ntscDefault);
// 0 for a null address, user or password or without a module; else the module's Start.
uint32_t StartProcessCapabilityQuery(const char* address, uint16_t port, const char* user, const char* password,
                                     ipcapture::ICapabilityStore* store);
uint32_t TerminateProcessCapabilityQuery();
// Destroys the module (waiting for its worker); 1 always.
uint32_t UninitProcessCapabilityQuery();

// A separate module; null when out of memory.
ipcapture::IIPCapabilityQuery* CreateCapabilityQuery(ipcapture::ICapabilityQueryCallback* callback,
                                                     uint32_t ntscDefault);

}  // namespace orbisan

#pragma once

#include "strandline/capability_query.h"
#include "strandline/capture_driver.h"

#define STRANDLINE_EXPORT extern "C" __attribute__((visibility("default")))

// Factories: each returns a new driver object (null only when out of memory).
STRANDLINE_EXPORT orbisan::ipcapture::IIPCaptureDriverEx5* CreateIPCapture();
STRANDLINE_EXPORT orbisan::ipcapture::IIPCaptureDriverEx5* CreateIPCaptureEx();
STRANDLINE_EXPORT orbisan::ipcapture::IIPCaptureDriverEx5* CreateIPCaptureEx2();
STRANDLINE_EXPORT orbisan::ipcapture::IIPCaptureDriverEx5* CreateIPCaptureEx3();
STRANDLINE_EXPORT orbisan::ipcapture::IIPCaptureDriverEx5* CreateIPCaptureEx4();
STRANDLINE_EXPORT orbisan::ipcapture::IIPCaptureDriverEx5* CreateIPCaptureEx5();
// Destroy a driver made by any factory; null is ignored.
STRANDLINE_EXPORT void DeleteIPCapture(orbisan::ipcapture::IIPCaptureDriverEx5* driver);
STRANDLINE_EXPORT void DeleteIPCaptureEx(orbisan::ipcapture::IIPCaptureDriverEx5* driver);
STRANDLINE_EXPORT void DeleteIPCaptureEx2(orbisan::ipcapture::IIPCaptureDriverEx5* driver);
STRANDLINE_EXPORT void DeleteIPCaptureEx3(orbisan::ipcapture::IIPCaptureDriverEx5* driver);
STRANDLINE_EXPORT void DeleteIPCaptureEx4(orbisan::ipcapture::IIPCaptureDriverEx5* driver);
STRANDLINE_EXPORT void DeleteIPCaptureEx5(orbisan::ipcapture::IIPCaptureDriverEx5* driver);

// Function types for hosts that resolve the exports with dlsym.
using StrandlineCreateFn = orbisan::ipcapture::IIPCaptureDriverEx5* (*)();
using StrandlineDeleteFn = void (*)(orbisan::ipcapture::IIPCaptureDriverEx5*);

// Capability query. Init/Uninit keep the one module of the process that the
// Start and Terminate exports address; Create/Delete make separate modules.
STRANDLINE_EXPORT uint32_t InitCapabilityQuery(orbisan::ipcapture::ICapabilityQueryCallback* callback,
                                               uint32_t ntscDefault);
STRANDLINE_EXPORT uint32_t StartCapabilityQuery(const char* address, uint16_t port, const char* user,
                                                const char* password, orbisan::ipcapture::ICapabilityStore* store);
STRANDLINE_EXPORT uint32_t TerminateCapabilityQuery();
STRANDLINE_EXPORT uint32_t UninitCapabilityQuery();
STRANDLINE_EXPORT orbisan::ipcapture::IIPCapabilityQuery* CreateCapabilityQueryModule(
    orbisan::ipcapture::ICapabilityQueryCallback* callback, uint32_t ntscDefault);
STRANDLINE_EXPORT void DeleteCapabilityQueryModule(orbisan::ipcapture::IIPCapabilityQuery* module);

using StrandlineInitCapabilityQueryFn = uint32_t (*)(orbisan::ipcapture::ICapabilityQueryCallback*, uint32_t);
using StrandlineStartCapabilityQueryFn = uint32_t (*)(const char*, uint16_t, const char*, const char*,
                                                      orbisan::ipcapture::ICapabilityStore*);
using StrandlineCapabilityQueryFn = uint32_t (*)();

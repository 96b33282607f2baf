#pragma once

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

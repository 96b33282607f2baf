#include "strandline/exports.h"

#include <new>

#include "capability/process_capability_query.h"
#include "driver/acti_ip_capture_driver.h"

using orbisan::ipcapture::IIPCaptureDriverEx5;

namespace {

IIPCaptureDriverEx5* CreateDriver() { return new (std::nothrow) orbisan::CActiIPCaptureDriver(); }

void DeleteDriver(IIPCaptureDriverEx5* driver) { delete driver; }

}  // namespace

IIPCaptureDriverEx5* CreateIPCapture() { return CreateDriver(); }
IIPCaptureDriverEx5* CreateIPCaptureEx() { return CreateDriver(); }
IIPCaptureDriverEx5* CreateIPCaptureEx2() { return CreateDriver(); }
IIPCaptureDriverEx5* CreateIPCaptureEx3() { return CreateDriver(); }
IIPCaptureDriverEx5* CreateIPCaptureEx4() { return CreateDriver(); }
IIPCaptureDriverEx5* CreateIPCaptureEx5() { return CreateDriver(); }
void DeleteIPCapture(IIPCaptureDriverEx5* driver) { DeleteDriver(driver); }
void DeleteIPCaptureEx(IIPCaptureDriverEx5* driver) { DeleteDriver(driver); }
void DeleteIPCaptureEx2(IIPCaptureDriverEx5* driver) { DeleteDriver(driver); }
void DeleteIPCaptureEx3(IIPCaptureDriverEx5* driver) { DeleteDriver(driver); }
void DeleteIPCaptureEx4(IIPCaptureDriverEx5* driver) { DeleteDriver(driver); }
void DeleteIPCaptureEx5(IIPCaptureDriverEx5* driver) { DeleteDriver(driver); }

uint32_t InitCapabilityQuery(orbisan::ipcapture::ICapabilityQueryCallback* callback, uint32_t ntscDefault) {
  return orbisan::InitProcessCapabilityQuery(callback, ntscDefault);
}
uint32_t StartCapabilityQuery(const char* address, uint16_t port, const char* user, const char* password,
                              orbisan::ipcapture::ICapabilityStore* store) {
  return orbisan::StartProcessCapabilityQuery(address, port, user, password, store);
}
uint32_t TerminateCapabilityQuery() { return orbisan::TerminateProcessCapabilityQuery(); }
uint32_t UninitCapabilityQuery() { return orbisan::UninitProcessCapabilityQuery(); }
orbisan::ipcapture::IIPCapabilityQuery* CreateCapabilityQueryModule(
    orbisan::ipcapture::ICapabilityQueryCallback* callback, uint32_t ntscDefault) {
  return orbisan::CreateCapabilityQuery(callback, ntscDefault);
}
void DeleteCapabilityQueryModule(orbisan::ipcapture::IIPCapabilityQuery* module) { delete module; }

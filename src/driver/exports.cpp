#include "strandline/exports.h"

#include <new>

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

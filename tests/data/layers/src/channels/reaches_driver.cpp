#include "channels/reaches_driver.h"

#include <curl/curl.h>

#include "driver/ip_capture_driver.h"

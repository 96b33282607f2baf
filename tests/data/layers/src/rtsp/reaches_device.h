#pragma once

#include "device/idriver.h"

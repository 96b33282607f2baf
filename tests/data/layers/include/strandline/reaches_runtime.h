#pragma once

#include "runtime/event.h"

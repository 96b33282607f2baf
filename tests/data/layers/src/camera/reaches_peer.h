#pragma once

#include "rtsp/rtp_packet.h"
#include "runtime/event.h"

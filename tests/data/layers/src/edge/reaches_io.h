#pragma once

#include "io/imotion_channel.h"

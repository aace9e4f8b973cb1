#pragma once
// Free system helpers, one header per area.
#include "FuntionImpl/SystemInfo.h"
#include "FuntionImpl/RegistryHelpers.h"

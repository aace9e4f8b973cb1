#pragma once
// Free system helpers, one header per area.
#include "FuntionImpl/SystemInfo.h"
#include "FuntionImpl/ProcessLaunch.h"
#include "FuntionImpl/ServiceControl.h"
#include "FuntionImpl/PreInstallChecks.h"
#include "FuntionImpl/RegistryHelpers.h"
#include "FuntionImpl/VerifySignature.h"

#pragma once
// Test hooks of the install pipeline, for the end-to-end tests of the real Setup (the
// wizard and the unattended mode alike). Unset, the product's own timing holds.
//   QV_TEST_STALL_LIMIT_MS     shortens the download's 30 s stall limit;
//   QV_TEST_INSTALLER_WAIT_MS  each of the 242 waits for the installer and the pause after it;
//   QV_TEST_SPEED_STEP_MS      each of the speed test's pauses per location (1 s);
//   QV_TEST_NETWORK_DOWN_FILE  while this file exists, the network check says no.
// None of them widens what Setup accepts or runs: they change only how long it waits.

#include "src/wizard/CInstallPipeline.h"

InstallPipelineOptions PipelineOptionsFromTestHooks();

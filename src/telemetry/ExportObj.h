#pragma once
// C entry points of the web-service client, exported from the executable so that other
// modules (an installer script plug-in, for one) can create the same client.

class IWebLog;

extern "C" {
// A new client; null when it cannot be created.
IWebLog* CreateExportObj();
// Destroys a client from CreateExportObj; null is ignored.
void DestroyExportObj(IWebLog* object);
// Sends one usage-log entry on a background thread with a client of its own (kept until
// the process ends). Always 0.
int NSISLog(int operationId, int softwareId, int languageId, int siteId);
}

#include "src/telemetry/ExportObj.h"

#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "src/telemetry/WebLog.h"

namespace {

// Clients of NSISLog live until the process ends: their threads are never joined, so the
// objects are deliberately never destroyed (reachable from here, not leaked).
std::mutex g_nsisMutex;
std::vector<IWebLog*>* g_nsisClients = nullptr;
IWebLog* g_nsisClient = nullptr;  // the latest one

void NsisLogThread(IWebLog* client, int operationId, int softwareId, int languageId, int siteId) {
    const char* guid = nullptr;
    const char* userId = nullptr;
    for (int attempt = 0; attempt < 3 && guid == nullptr && userId == nullptr; ++attempt) {
        client->GetUserId(&guid, &userId);
    }
    if (guid == nullptr && userId == nullptr) return;
    client->AddUserLog(operationId, 1, "", softwareId, languageId, siteId, "", "", 0, 0);
}

}  // namespace

extern "C" IWebLog* CreateExportObj() { return new (std::nothrow) WebLog(); }

extern "C" void DestroyExportObj(IWebLog* object) { delete object; }

extern "C" int NSISLog(int operationId, int softwareId, int languageId, int siteId) {
    IWebLog* client = new (std::nothrow) WebLog();
    {
        std::lock_guard<std::mutex> hold(g_nsisMutex);
        g_nsisClient = client;
        if (client == nullptr) return 0;
        if (g_nsisClients == nullptr) g_nsisClients = new std::vector<IWebLog*>;
        g_nsisClients->push_back(client);
    }
    // The thread gets its own copy of the values: a later call replaces the globals.
    std::thread(NsisLogThread, client, operationId, softwareId, languageId, siteId).detach();
    return 0;
}

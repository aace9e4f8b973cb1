#pragma once
// The maker's web-service client as other modules see it. Objects come from
// CreateExportObj and go back through DestroyExportObj (ExportObj.h).
//
// Texts are 8-bit and NUL-terminated; a null argument counts as an empty text. Text
// pointers handed out point into the object and stay valid until the same operation runs
// again or the object is destroyed. The operations keep their order (the object's table
// of virtual functions is its binary interface); the destructor comes last.

class IWebLog {
public:
    // Usage log. Operation id 10202 also records the time since construction. 0 or -1.
    virtual int AddUserLog(int operationId, int result, const char* resultData, int softwareId, int languageId,
                           int siteId, const char* currentVersion, const char* email, int activityId,
                           int versionId) = 0;
    // Resolves (or creates and stores) the machine's identity; both outputs are set, never null. 0.
    virtual int GetUserId(const char** guid, const char** userId) = 0;
    virtual int QueryTools(const char** reply, int softwareId, int languageId) = 0;
    // The product configuration reply for this installer; -1 at once when an id is 0.
    virtual int QueryDownloader(const char** reply, int softwareId, int languageId, int siteId) = 0;
    virtual int ReportLog(int softwareId, const char* email, const char* content, const char* uploadId) = 0;
    // One analytics event hit: 0 sent and acknowledged, 253 answered without the image,
    // 254 refused before sending (a required value is empty), 255 transport or HTTP failure.
    virtual int SendAnalyticsEvent(const char* propertyId, const char* appName, const char* appVersion,
                                   const char* category, const char* action, const char* label,
                                   const char* customDimensions) = 0;

    virtual ~IWebLog() = default;
};

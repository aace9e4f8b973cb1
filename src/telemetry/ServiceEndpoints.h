#pragma once
// Where the maker's services live: build-time defaults (cmake/Endpoints.cmake), each URL
// overridable by an environment variable of the same name (QV_SERVICE_BASE_URL,
// QV_SERVICE_LOCATOR_URL, QV_LOCATION_URL, QV_ANALYTICS_URL, QV_EXCEPTION_URL).

#include <string>

struct ServiceEndpoints {
    std::string serviceBaseUrl;     // prefix of every service query until the locator names another
    std::string serviceLocatorUrl;  // text file whose body is the current base URL
    std::string locationUrl;        // IP-geolocation lookup ("/csv")
    std::string analyticsUrl;       // event hits ("/collect")
    std::string exceptionUrl;       // failure reports ("/api/exception/send")

    // The build defaults, then any environment override. Read afresh on every call.
    static ServiceEndpoints FromEnvironment();
    static ServiceEndpoints BuildDefaults();
};

// The analytics property id ("tid") the build was configured with; never empty.
const char* AnalyticsPropertyId();

#include "src/telemetry/ServiceEndpoints.h"

#include <cstdlib>

#include "Endpoints.h"

namespace {

void Override(std::string& value, const char* variable) {
    const char* text = std::getenv(variable);
    if (text != nullptr && *text != '\0') value = text;
}

}  // namespace

ServiceEndpoints ServiceEndpoints::BuildDefaults() {
    ServiceEndpoints e;
    e.serviceBaseUrl = QV_DEFAULT_SERVICE_BASE_URL;
    e.serviceLocatorUrl = QV_DEFAULT_SERVICE_LOCATOR_URL;
    e.locationUrl = QV_DEFAULT_LOCATION_URL;
    e.analyticsUrl = QV_DEFAULT_ANALYTICS_URL;
    e.exceptionUrl = QV_DEFAULT_EXCEPTION_URL;
    return e;
}

ServiceEndpoints ServiceEndpoints::FromEnvironment() {
    ServiceEndpoints e = BuildDefaults();
    Override(e.serviceBaseUrl, "QV_SERVICE_BASE_URL");
    Override(e.serviceLocatorUrl, "QV_SERVICE_LOCATOR_URL");
    Override(e.locationUrl, "QV_LOCATION_URL");
    Override(e.analyticsUrl, "QV_ANALYTICS_URL");
    Override(e.exceptionUrl, "QV_EXCEPTION_URL");
    return e;
}

const char* AnalyticsPropertyId() { return QV_ANALYTICS_PROPERTY_ID; }

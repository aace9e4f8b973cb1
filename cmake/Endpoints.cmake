# Addresses of the maker's services. Each is a cache variable (set with -D at configure
# time) and each URL can be overridden at run time by the environment variable of the
# same name, which the tests and the demo use to point the program at a local service.
set(QV_SERVICE_BASE_URL "https://service.quorvane.example/api" CACHE STRING
    "Default base URL of the maker's web service (used until the service-locator file names another)")
set(QV_SERVICE_LOCATOR_URL "http://www.quorvane.example/downloads/service/softwarelog.txt" CACHE STRING
    "Service-locator file: a text file holding the current base URL of the web service")
set(QV_LOCATION_URL "http://location.quorvane.example/csv" CACHE STRING
    "IP-geolocation lookup answering one comma-separated line")
set(QV_ANALYTICS_URL "http://analytics.quorvane.example/collect" CACHE STRING
    "Analytics collection endpoint receiving event hits")
set(QV_EXCEPTION_URL "https://service.quorvane.example/api/exception/send" CACHE STRING
    "Endpoint receiving failure reports")
set(QV_ANALYTICS_PROPERTY_ID "UA-10000000-1" CACHE STRING
    "Analytics property id sent as 'tid' with every hit (hits without one are refused)")
if(QV_ANALYTICS_PROPERTY_ID STREQUAL "")
  message(FATAL_ERROR "QV_ANALYTICS_PROPERTY_ID must not be empty: every analytics hit would be refused")
endif()

configure_file(${CMAKE_CURRENT_LIST_DIR}/Endpoints.h.in ${PROJECT_BINARY_DIR}/generated/Endpoints.h @ONLY)

# The web-service client's C entry points must reach Setup's dynamic symbol table even
# before anything inside the executable calls them; a static library member nobody
# references would otherwise be left out by the linker. Setup is defined later, so the
# link options are attached once the top-level directory has been processed.
function(qv_keep_exported_entry_points)
  if(TARGET Setup)
    target_link_options(Setup PRIVATE
      "LINKER:--undefined=CreateExportObj"
      "LINKER:--undefined=DestroyExportObj"
      "LINKER:--undefined=NSISLog")
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL qv_keep_exported_entry_points)

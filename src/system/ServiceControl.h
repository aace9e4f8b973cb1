#pragma once
// The product's background service as the pre-install checks see it: a small surface
// that the systemd implementation below provides and tests replace.

#include <cstdint>
#include <optional>
#include <string>

enum class ServiceState { SERVICE_STOPPED, SERVICE_RUNNING, SERVICE_PENDING };

struct ServiceStatus {
    ServiceState state = ServiceState::SERVICE_STOPPED;
    std::uint32_t waitHintMs = 0;  // how long to wait before asking again while it stops
};

class IServiceControl {
public:
    virtual ~IServiceControl() = default;
    virtual bool ManagerAvailable() = 0;                        // the service manager answers
    virtual bool ServiceExists(const std::string& name) = 0;    // the service is known to it
    virtual std::optional<ServiceStatus> QueryStatus(const std::string& name) = 0;  // nullopt: not read
    virtual bool RequestStop(const std::string& name) = 0;      // false: refused
};

// systemd through systemctl: the unit is the service name with ".service". Every call is
// bounded to a few seconds; a systemctl that hangs counts as failed.
class CSystemctlServiceControl : public IServiceControl {
public:
    bool ManagerAvailable() override;
    bool ServiceExists(const std::string& name) override;
    std::optional<ServiceStatus> QueryStatus(const std::string& name) override;
    bool RequestStop(const std::string& name) override;
};

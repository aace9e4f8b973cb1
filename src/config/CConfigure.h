#pragma once
// The product configuration and its two sources: the maker's web service (an XML reply)
// and, failing that, the Product_config labels of the skin package. The main window
// creates one, fills it once and keeps it; everything else only reads it.
//
// Thread ownership: filled on the window thread; read-only afterwards.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "src/config/ProductConfig.h"

class IWebLog;

// The text of the window's control named `name`; nullopt when there is no such control.
using ControlTextLookup = std::function<std::optional<std::string>(const std::string& name)>;

class CConfigure : public ProductConfig {
public:
    // Identifiers as the skin labels give them. The web-service client comes from
    // createClient (default CreateExportObj) and lives as long as this object.
    CConfigure(int downloaderId, int languageId, int siteId, std::function<IWebLog*()> createClient = {});
    ~CConfigure();
    CConfigure(const CConfigure&) = delete;
    CConfigure& operator=(const CConfigure&) = delete;

    // Back to "not loaded" with the texts from Software_name to Licensefile_url emptied;
    // the identifiers, Downloader_type and the extra locations stay. Returns 1.
    int reset();
    // Asks the service for this installer's configuration; the outcome shows in Reply()
    // (null on failure). Each attempt is logged to QV_GetDownloaderInfo.log in the
    // temporary folder. Returns 1.
    int getDownloaderInfo();
    // 1 and loaded from the service when the reply has a root element; else 0.
    int parseDownloaderInfo();
    // Reads the Product_config labels. A missing label counts as an empty one. Returns 1.
    int loadFromControls(const ControlTextLookup& controlText);
    // Writes the configuration to the process log. Returns 1.
    int printContent() const;
    // Up to kServiceAttempts service queries, each followed by parsing its reply, stopping
    // once loaded. True when the service's configuration is loaded.
    bool loadFromService();
    // The main window's order: loadFromService, then the labels. Returns the load source.
    int loadConfiguration(const ControlTextLookup& controlText);
    // The lines printContent writes, in order.
    std::vector<std::string> ContentLines() const;

    // The last service reply; points into the client's buffer, valid until its next query.
    const char* Reply() const { return reply_; }
    // The query log's path.
    static std::string QueryLogPath();
    // A label's number: leading blanks, a sign and the digits that follow; no digits or a
    // value out of range give 0. The wizard and the unattended mode read their labels so.
    static int LabelNumber(const std::string& text);

    static constexpr int kServiceAttempts = 3;

private:
    void RebuildRemotePaths();

    struct ClientDeleter {
        void operator()(IWebLog* client) const;
    };
    std::unique_ptr<IWebLog, ClientDeleter> client_;
    const char* reply_ = nullptr;
};

// UTF-8 text cut to at most `maxCodePoints` code points, never inside a sequence; bytes
// that are no valid UTF-8 become U+FFFD.
std::string Utf8Prefix(const std::string& text, std::size_t maxCodePoints);

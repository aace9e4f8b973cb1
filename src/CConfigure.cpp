#include "CConfigure.h"

#include <tinyxml2.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <limits>

#include "log/ProcessLogger.h"
#include "platform/FileStreams.h"
#include "platform/Folders.h"
#include "telemetry/ExportObj.h"
#include "telemetry/IWebLog.h"

namespace {

constexpr std::size_t kMaxTempPath = 260;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The whole text (blanks around it aside) as a decimal integer, or nothing.
template <typename Int>
std::optional<Int> ParseWholeInteger(const char* text) {
    if (text == nullptr) return std::nullopt;
    std::string_view view(text);
    while (!view.empty() && IsBlank(view.front())) view.remove_prefix(1);
    while (!view.empty() && IsBlank(view.back())) view.remove_suffix(1);
    if (!view.empty() && view.front() == '+') view.remove_prefix(1);
    if (view.empty()) return std::nullopt;
    Int value{};
    const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
    if (error != std::errc() || end != view.data() + view.size()) return std::nullopt;
    return value;
}

// Leading blanks, a sign and the digits that follow; no digits or out of range give 0.
template <typename Int>
Int ParseLeadingInteger(const std::string& text) {
    std::string_view view(text);
    while (!view.empty() && IsBlank(view.front())) view.remove_prefix(1);
    if (!view.empty() && view.front() == '+') view.remove_prefix(1);
    Int value{};
    const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
    if (error != std::errc()) return 0;
    return value;
}

std::string LocalTimeStamp() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

std::string Utf8Prefix(const std::string& text, std::size_t maxCodePoints) {
    static const char kReplacement[] = "\xEF\xBF\xBD";
    std::string out;
    std::size_t codePoints = 0;
    std::size_t i = 0;
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    while (i < text.size() && codePoints < maxCodePoints) {
        const unsigned char lead = byte(i);
        std::size_t length = 0;
        std::uint32_t minimum = 0;
        if (lead < 0x80) {
            length = 1;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            minimum = 0x10000;
        }
        bool valid = length != 0 && i + length <= text.size();
        std::uint32_t code = length == 1 ? lead : (lead & (0xFF >> (length + 1)));
        for (std::size_t k = 1; valid && k < length; ++k) {
            if ((byte(i + k) & 0xC0) != 0x80) valid = false;
            code = (code << 6) | (byte(i + k) & 0x3F);
        }
        if (valid && length > 1 && (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))) {
            valid = false;
        }
        if (valid) {
            out.append(text, i, length);
            i += length;
        } else {
            out += kReplacement;
            i += 1;
        }
        ++codePoints;
    }
    return out;
}

void CConfigure::ClientDeleter::operator()(IWebLog* client) const { DestroyExportObj(client); }

CConfigure::CConfigure(int downloaderId, int languageId, int siteId, std::function<IWebLog*()> createClient) {
    Downloader_id = downloaderId;
    Language_id = languageId;
    Site_id = siteId;
    client_.reset(createClient ? createClient() : CreateExportObj());
}

CConfigure::~CConfigure() = default;

int CConfigure::reset() {
    loadState = CONFIG_NOT_LOADED;
    loadSource = CONFIG_SOURCE_NOTHING;
    Filesize = 0;
    Software_id = 0;
    Software_name.clear();
    Software_version.clear();
    Download_url.clear();
    Md5.clear();
    Process_name.clear();
    Install_url.clear();
    Banner_url.clear();
    Licensefile_url.clear();
    remotePaths.clear();
    return 1;
}

int CConfigure::LabelNumber(const std::string& text) { return ParseLeadingInteger<int>(text); }

std::string CConfigure::QueryLogPath() {
    std::string folder = platform::TempDirectoryAsReported();
    if (folder.size() > kMaxTempPath) return {};
    return folder + "QV_GetDownloaderInfo.log";
}

int CConfigure::getDownloaderInfo() {
    std::unique_ptr<std::FILE, FileCloser> log;
    if (const std::string path = QueryLogPath(); !path.empty()) log.reset(platform::OpenForAppending(path));
    if (log) {
        std::fprintf(log.get(), "%s GetDownloaderInfo...\n", LocalTimeStamp().c_str());
        std::fflush(log.get());
    }
    const char* reply = nullptr;
    int result = -1;
    if (client_) result = client_->QueryDownloader(&reply, Downloader_id, Language_id, Site_id);
    if (log) {
        std::fprintf(log.get(), "%s GetDownloaderInfo return %d\n", LocalTimeStamp().c_str(), result);
        std::fflush(log.get());
    }
    reply_ = result == 0 ? reply : nullptr;
    return 1;
}

int CConfigure::parseDownloaderInfo() {
    if (reply_ == nullptr) {
        loadState = CONFIG_NOT_LOADED;
        return 0;
    }
    tinyxml2::XMLDocument document;
    document.Parse(reply_);
    const tinyxml2::XMLElement* root = document.FirstChildElement();
    if (root == nullptr) {
        loadState = CONFIG_NOT_LOADED;
        return 0;
    }
    for (const tinyxml2::XMLElement* e = root->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
        const std::string name = e->Name();
        const char* raw = e->GetText();
        const std::string text = raw != nullptr ? raw : "";
        const auto setInt = [&](int& field) {
            if (auto value = ParseWholeInteger<int>(raw)) field = *value;
        };
        if (name == "Downloader_id") {
            setInt(Downloader_id);
        } else if (name == "Software_id") {
            setInt(Software_id);
        } else if (name == "Site_id") {
            setInt(Site_id);
        } else if (name == "Software_name") {
            Software_name = Utf8Prefix(text, kMaxSoftwareNameLength);
        } else if (name == "Software_version") {
            Software_version = text;
        } else if (name == "Process_name") {
            Process_name = text;
        } else if (name == "Install_url") {
            Install_url = text;
        } else if (name == "Download_url") {
            Download_url = text;
        } else if (name == "Banner_url") {
            Banner_url = text;
        } else if (name == "Licensefile_url") {
            Licensefile_url = text;
        } else if (name == "Md5") {
            Md5 = text;
        } else if (name == "Filesize") {
            if (auto value = ParseWholeInteger<std::int64_t>(raw)) Filesize = *value;
        } else if (name == "Extra_download_url") {
            Extra_download_url = text;
        } else if (name == "Cnet_download_url") {
            Cnet_download_url = text;
        } else if (name == "Md5_extra") {
            Md5_extra = text;
        } else if (name == "Downloader_type") {
            setInt(Downloader_type);
        }
    }
    loadState = CONFIG_LOADED;
    loadSource = CONFIG_SOURCE_SERVICE;
    RebuildRemotePaths();
    return 1;
}

int CConfigure::loadFromControls(const ControlTextLookup& controlText) {
    reset();
    const auto text = [&](const char* name) -> std::string {
        std::optional<std::string> value = controlText ? controlText(name) : std::nullopt;
        if (!value) {
            LOG(INFO) << " [Product_config] no label: " << name;
            return {};
        }
        return *value;
    };
    Downloader_id = ParseLeadingInteger<int>(text("Downloader_id"));
    Software_id = ParseLeadingInteger<int>(text("Software_id"));
    Site_id = ParseLeadingInteger<int>(text("Site_id"));
    Language_id = ParseLeadingInteger<int>(text("Language_id"));
    Software_name = text("Software_name");
    Software_version = text("Software_version");
    Process_name = text("Process_name");
    Install_url = text("Install_url");
    Download_url = text("Download_url");
    Extra_download_url = text("Extra_download_url");
    Banner_url = text("Banner_url");
    Licensefile_url = text("Licensefile_url");
    Md5 = text("Md5");
    Md5_extra = text("Md5_extra");
    Cnet_download_url = text("Cnet_download_url");
    Filesize = ParseLeadingInteger<std::int64_t>(text("Filesize"));
    loadState = CONFIG_LOADED;
    loadSource = CONFIG_SOURCE_SKIN;
    Downloader_type = 3;
    RebuildRemotePaths();
    return 1;
}

bool CConfigure::loadFromService() {
    for (int attempt = 0; attempt < kServiceAttempts && loadState != CONFIG_LOADED; ++attempt) {
        getDownloaderInfo();
        parseDownloaderInfo();
    }
    return loadState == CONFIG_LOADED;
}

int CConfigure::loadConfiguration(const ControlTextLookup& controlText) {
    if (!loadFromService()) loadFromControls(controlText);
    return loadSource;
}

void CConfigure::RebuildRemotePaths() {
    remotePaths.clear();
    if (!Download_url.empty()) remotePaths.push_back(Download_url);
    if (!Extra_download_url.empty()) remotePaths.push_back(Extra_download_url);
}

std::vector<std::string> CConfigure::ContentLines() const {
    std::vector<std::string> lines;
    if (loadSource == CONFIG_SOURCE_SKIN) {
        lines.emplace_back(" Configure Load From File! ");
    } else if (loadSource == CONFIG_SOURCE_SERVICE) {
        lines.emplace_back(" Configure Load From XML! ");
    } else {
        lines.emplace_back(" Configure Load From Nothing! ");
    }
    lines.push_back(" [File ContentLength]: " + std::to_string(Filesize));
    lines.push_back(" [Downloader Id]: " + std::to_string(Downloader_id));
    lines.push_back(" [SoftWare Id]: " + std::to_string(Software_id));
    lines.push_back(" [Site Id]: " + std::to_string(Site_id));
    lines.push_back(" [Language Id]: " + std::to_string(Language_id));
    lines.push_back(" [Software Name]: " + Software_name);
    lines.push_back(" [Software Version]: " + Software_version);
    lines.push_back(" [Remote Path]: " + Download_url);
    lines.push_back(" [MD5 String]: " + Md5);
    lines.push_back(" [Process Name]: " + Process_name);
    lines.push_back(" [Install Url]: " + Install_url);
    lines.push_back(" [Banner Url]: " + Banner_url);
    lines.push_back(" [Licensefile Url]: " + Licensefile_url);
    lines.push_back(" [Extra Download Url]: " + Extra_download_url);
    lines.push_back(" [Cnet Download Url]: " + Cnet_download_url);
    lines.push_back(" [MD5 Extra String]: " + Md5_extra);
    return lines;
}

int CConfigure::printContent() const {
    for (const std::string& line : ContentLines()) LOG(INFO) << line;
    return 1;
}

#include "src/config/CConfigure.h"

#include <tinyxml2.h>

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <limits>
#include <string_view>
#include <type_traits>

#include "platform/ProcessLogger.h"
#include "platform/FileStreams.h"
#include "platform/Folders.h"
#include "src/telemetry/ExportObj.h"
#include "src/telemetry/IWebLog.h"

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

constexpr std::size_t kFieldCount = std::size(kProductConfigFields);

// Calls use(value) with the field's member of config, typed int, int64_t or std::string.
template <typename Config, typename Use>
void VisitField(Config& config, const ProductConfigField& field, Use&& use) {
    std::visit([&](auto member) { use(config.*member); }, field.member);
}

template <typename T>
constexpr bool kIsText = std::is_same_v<std::remove_cvref_t<T>, std::string>;

// Indices into the table in the order the skin's labels are read.
struct LabelOrder {
    std::array<std::size_t, kFieldCount> index{};
    std::size_t count = 0;
    bool ranksValid = true;  // every rank from 0 up held by exactly one field, none skipped
};

constexpr LabelOrder MakeLabelOrder() {
    LabelOrder order;
    std::size_t ranked = 0;
    for (const ProductConfigField& field : kProductConfigFields) ranked += field.labelRank >= 0;
    for (int rank = 0; order.count < ranked; ++rank) {
        std::size_t holders = 0;
        for (std::size_t i = 0; i < kFieldCount; ++i) {
            if (kProductConfigFields[i].labelRank != rank) continue;
            ++holders;
            order.index[order.count] = i;
        }
        if (holders != 1) {
            order.ranksValid = false;
            break;
        }
        ++order.count;
    }
    return order;
}

constexpr LabelOrder kLabelOrder = MakeLabelOrder();
static_assert(kLabelOrder.ranksValid, "each label rank from 0 up must belong to exactly one field");

constexpr bool NamesDistinct() {
    for (std::size_t i = 0; i < kFieldCount; ++i) {
        for (std::size_t k = i + 1; k < kFieldCount; ++k) {
            if (std::string_view(kProductConfigFields[i].name) == kProductConfigFields[k].name) return false;
        }
    }
    return true;
}
static_assert(NamesDistinct(), "a field name may appear only once: the reply's elements are looked up by it");

const ProductConfigField* ServiceField(const char* name) {
    for (const ProductConfigField& field : kProductConfigFields) {
        if (field.fromService && std::strcmp(field.name, name) == 0) return &field;
    }
    return nullptr;
}

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
    for (const ProductConfigField& field : kProductConfigFields) {
        if (!field.clearedByReset) continue;
        VisitField(*this, field, [](auto& value) { value = {}; });
    }
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
        const ProductConfigField* field = ServiceField(e->Name());
        if (field == nullptr) continue;
        const char* raw = e->GetText();
        VisitField(*this, *field, [&](auto& value) {
            using T = std::remove_reference_t<decltype(value)>;
            if constexpr (kIsText<T>) {
                const std::string text = raw != nullptr ? raw : "";
                value = field->maxCodePoints != 0 ? Utf8Prefix(text, field->maxCodePoints) : text;
            } else if (auto parsed = ParseWholeInteger<T>(raw)) {
                // Text that is missing or no number leaves the field as it was.
                value = *parsed;
            }
        });
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
    for (std::size_t i = 0; i < kLabelOrder.count; ++i) {
        const ProductConfigField& field = kProductConfigFields[kLabelOrder.index[i]];
        VisitField(*this, field, [&](auto& value) {
            using T = std::remove_reference_t<decltype(value)>;
            if constexpr (kIsText<T>) {
                value = text(field.name);
            } else {
                value = ParseLeadingInteger<T>(text(field.name));
            }
        });
    }
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
    for (const ProductConfigField& field : kProductConfigFields) {
        if (field.printLabel == nullptr) continue;
        VisitField(*this, field, [&](const auto& value) {
            if constexpr (kIsText<decltype(value)>) {
                lines.push_back(field.printLabel + value);
            } else {
                lines.push_back(field.printLabel + std::to_string(value));
            }
        });
    }
    return lines;
}

int CConfigure::printContent() const {
    for (const std::string& line : ContentLines()) LOG(INFO) << line;
    return 1;
}

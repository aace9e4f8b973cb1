#include "src/config/InstallPaths.h"

#include <cstdio>

namespace {

bool EndsWithExe(const std::string& text) {
    return text.size() >= 4 && text.compare(text.size() - 4, 4, ".exe") == 0;
}

}  // namespace

bool IsInstallableProduct(const ProductConfig& config) { return EndsWithExe(config.Extra_download_url); }

std::string InstallerFileName(const ProductConfig& config) {
    if (config.loadState != CONFIG_LOADED) return {};
    const std::string& url = config.Download_url;
    const std::size_t slash = url.rfind('/');
    std::string name = slash == std::string::npos ? url : url.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.resize(dot);
    name += config.Software_version;
    name += IsInstallableProduct(config) ? ".exe" : ".apk";
    return name;
}

std::string DownloadStem(const ProductConfig& config) {
    const std::string& url = config.Download_url;
    const std::size_t slash = url.rfind('/');
    if (slash != std::string::npos) {
        const std::size_t dot = url.find('.', slash + 1);
        if (dot != std::string::npos) return url.substr(slash + 1, dot - slash - 1);
    }
    return config.Software_name;
}

std::string PathComponentError(std::string_view name) {
    if (name.find('/') != std::string_view::npos) return "holds '/'";
    if (name.find("..") != std::string_view::npos) return "holds \"..\"";
    if (name.find('\0') != std::string_view::npos) return "holds a NUL character";
    return {};
}

std::string ConfigPathError(const ProductConfig& config) {
    if (std::string error = PathComponentError(config.Software_name); !error.empty()) return "Software_name: " + error;
    if (std::string error = PathComponentError(DownloadStem(config)); !error.empty()) return "download stem: " + error;
    if (std::string error = PathComponentError(InstallerFileName(config)); !error.empty()) {
        return "installer file name: " + error;
    }
    return {};
}

std::string TemporaryDownloadDirectory(const std::string& temporaryDirectory, const ProductConfig& config) {
    return temporaryDirectory + DownloadStem(config) + "/";
}

std::string InstallerPath(const ProductConfig& config, const std::string& temporaryDownloadDirectory,
                          const std::string& downloadDir) {
    if (IsInstallableProduct(config)) return temporaryDownloadDirectory + InstallerFileName(config);
    return downloadDir + "/" + InstallerFileName(config);
}

std::string InstallDirectoryFromPathText(std::string_view pathText, const std::string& productFolderName) {
    std::string directory(pathText);
    for (char& c : directory) {
        if (c == '\\') c = '/';
    }
    if (directory.find(productFolderName) == std::string::npos) directory += "/" + productFolderName;
    return directory;
}

std::string InstallerLogFileName(const std::string& softwareName, const std::tm& localTime) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "_Setup_%.4d%.2d%.2d%.2d%.2d%.2d.log", localTime.tm_year + 1900,
                  localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_hour, localTime.tm_min, localTime.tm_sec);
    return softwareName + stamp;
}

std::string InstallerCommandLine(bool innoInstaller, const std::string& installDirectory,
                                 const std::string& languageValue, const std::string& temporaryDirectory,
                                 const std::string& logFileName) {
    if (!innoInstaller) return " /S /NORESTART /D=" + installDirectory + "/";
    std::string line = " /VERYSILENT /SP- /NORESTART /DIR=\"" + installDirectory + "/\" /LANG=" + languageValue;
    if (!temporaryDirectory.empty()) line += " /LOG=\"" + temporaryDirectory + logFileName + "\"";
    return line;
}

#pragma once
// Names and paths of one product download and install, derived from the product
// configuration, and the product installer's command line. Pure functions (no file
// system, no clock); safe from any thread. Paths use '/'.

#include <ctime>
#include <string>
#include <string_view>

#include "src/config/ProductConfig.h"

// The product is installed from what is downloaded when Extra_download_url ends in ".exe"
// (exactly, letter case included). Otherwise the downloaded file is only shown to the user.
bool IsInstallableProduct(const ProductConfig& config);

// The downloaded file's name: Download_url's last segment cut at its last '.', then
// Software_version, then ".exe" for an installable product, else ".apk". Empty while the
// configuration is not loaded.
std::string InstallerFileName(const ProductConfig& config);

// Directory stem: the text between Download_url's last '/' and the first '.' after it;
// Software_name when either is missing. (It cuts at another dot than the file name does
// when the name holds several.)
std::string DownloadStem(const ProductConfig& config);

// Why `name` cannot be used as one component of a path: it holds '/', "..", or a NUL.
// Empty when it can. Configuration values become folder and file names, and a name that
// climbs out of its parent would create or delete files elsewhere.
std::string PathComponentError(std::string_view name);

// The first configuration value that would lead a path out of its parent directory, as
// "<field>: <reason>" ("Software_name", "download stem", "installer file name"); empty
// when all three are safe.
std::string ConfigPathError(const ProductConfig& config);

// `temporaryDirectory` (ending in '/') + stem + '/'.
std::string TemporaryDownloadDirectory(const std::string& temporaryDirectory, const ProductConfig& config);

// Where the installer goes: the temporary download directory for an installable product,
// else `downloadDir` + '/'; then the installer file name.
std::string InstallerPath(const ProductConfig& config, const std::string& temporaryDownloadDirectory,
                          const std::string& downloadDir);

// The install directory from the text of the path box: every '\' becomes '/', and
// '/' + productFolderName is appended unless the text already holds that name.
std::string InstallDirectoryFromPathText(std::string_view pathText, const std::string& productFolderName);

// "<Software_name>_Setup_YYYYMMDDhhmmss.log" at the given local time.
std::string InstallerLogFileName(const std::string& softwareName, const std::tm& localTime);

// The installer's switches (never its program name; it begins with a blank).
// Inno Setup: ` /VERYSILENT /SP- /NORESTART /DIR="<dir>/" /LANG=<lang>` followed, when
// `temporaryDirectory` is not empty, by ` /LOG="<temporaryDirectory><logFileName>"`.
// NSIS: ` /S /NORESTART /D=<dir>/`. Nothing is cut, however long the directory.
std::string InstallerCommandLine(bool innoInstaller, const std::string& installDirectory,
                                 const std::string& languageValue, const std::string& temporaryDirectory,
                                 const std::string& logFileName);

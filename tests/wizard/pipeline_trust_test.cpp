// Nobody but the maker chooses what the pipeline runs: a download folder another user
// made (with links planted under every name Setup writes, or with a signed script of
// their own, a matching record and a finished task file) is never used, the installer
// swapped between its check and its start is never started, and two runs never work in
// one folder at once.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "PipelineTestSupport.h"
#include "platform/FolderLock.h"

namespace pipelinetest {
namespace {

constexpr uid_t kNobody = 65534;

// Signs with one throw-away key pair, made once: the appended CMS layout the signature
// check reads (content, DER signature, 12-byte trailer, magic).
class ThrowAwaySigner {
public:
    explicit ThrowAwaySigner(fs::path work) : work_(std::move(work)) {
        fs::create_directories(work_);
        const std::string script = "cd '" + work_.string() +
                                   "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem "
                                   "-days 2 -subj /CN=throwaway >/dev/null 2>&1";
        ok_ = std::system(script.c_str()) == 0;
    }
    bool ok() const { return ok_; }

    std::string Sign(const std::string& content) const {
        WriteFile(work_ / "content", content);
        const std::string script = "cd '" + work_.string() +
                                   "' && openssl cms -sign -binary -noattr -md sha256 -in content -signer cert.pem "
                                   "-inkey key.pem -outform DER -out sig.der";
        if (std::system(script.c_str()) != 0) return {};
        const std::string signature = ReadFile(work_ / "sig.der");
        std::string trailer(12, '\0');
        trailer[2] = 2;  // PKCS#7
        const auto length = static_cast<std::uint32_t>(signature.size());
        trailer[8] = static_cast<char>(length >> 24);
        trailer[9] = static_cast<char>(length >> 16);
        trailer[10] = static_cast<char>(length >> 8);
        trailer[11] = static_cast<char>(length);
        return content + signature + trailer + "~Module signature appended~\n";
    }

    // A signed file of exactly `size` bytes: `content` padded before signing, so that a
    // task file for the real installer's size accepts it as complete.
    std::string SignPadded(const std::string& content, std::size_t size) const {
        const std::size_t overhead = Sign(content).size() - content.size();
        if (content.size() + overhead > size) return {};
        return Sign(content + std::string(size - overhead - content.size(), '#'));
    }

private:
    fs::path work_;
    bool ok_ = false;
};

// A task file recording every 1 MiB range of a `size`-byte download as finished.
std::string FinishedTaskFile(std::int64_t size, const std::string& url, const std::string& localPath) {
    const std::int64_t kTask = 1 << 20;
    const std::int64_t count = (size + kTask - 1) / kTask;
    std::string xml = "<TaskInfo><TasksCount>" + std::to_string(count) + "</TasksCount><ContentLength>" +
                      std::to_string(size) + "</ContentLength><DownloadTime>10</DownloadTime>";
    for (std::int64_t k = 1; k <= count; ++k) {
        const std::int64_t start = (k - 1) * kTask;
        const std::int64_t end = k == count ? size : k * kTask - 1;
        xml += "<Task><StartPos>" + std::to_string(start) + "</StartPos><EndPos>" + std::to_string(end) +
               "</EndPos><DownloadedPos>" + std::to_string(end) + "</DownloadedPos><RemotePath>" + url +
               "</RemotePath><LocalPath>" + localPath + "</LocalPath><TaskStatus>1</TaskStatus><TaskId>" +
               std::to_string(k) + "</TaskId><RequestTimes>1</RequestTimes></Task>";
    }
    return xml + "</TaskInfo>";
}

class PipelineTrustTest : public PipelineTest {
protected:
    void SetUp() override {
        PipelineTest::SetUp();
        fs::create_directories(root_ / "cache");
    }

    InstallPipelineOptions TrustOptions() {
        InstallPipelineOptions options = Options();
        options.cacheDirectory = (root_ / "cache").string() + "/";
        return options;
    }

    // The usual download folder, made by another user and open to everybody.
    fs::path ForeignFolder() {
        const fs::path folder = TemporaryDownloadDirectory();
        fs::create_directories(folder);
        EXPECT_EQ(::chown(folder.c_str(), kNobody, kNobody), 0);
        ::chmod(folder.c_str(), 0777);
        return folder;
    }
    void OwnByNobody(const fs::path& path) { EXPECT_EQ(::lchown(path.c_str(), kNobody, kNobody), 0); }

    fs::path PrivateInstallerPath() const { return root_ / "cache" / kStem / kInstallerName; }

    // A shell script that leaves `marker` behind when it runs.
    static std::string MarkerScript(const fs::path& marker) {
        return "#!/bin/sh\necho \"$(id)\" > '" + marker.string() + "'\nexit 0\n";
    }
};

TEST_F(PipelineTrustTest, LinksPlantedInAForeignFolderChangeNothingAndTheInstallRunsFromAPrivateOne) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a folder of another user";
    const fs::path foreign = ForeignFolder();
    const fs::path victims = root_ / "victims";
    fs::create_directories(victims);
    const std::string installer = kInstallerName;
    const std::vector<std::string> names = {installer, installer + ".xml", installer + ".db", installer + ".log",
                                            "temp", "temp.xml"};
    for (const std::string& name : names) {
        WriteFile(victims / name, "untouched " + name);
        fs::create_symlink(victims / name, foreign / name);
        OwnByNobody(foreign / name);
    }

    ASSERT_EQ(Run(TrustOptions()), 0) << Log();

    for (const std::string& name : names) {
        EXPECT_EQ(ReadFile(victims / name), "untouched " + name) << name;
        EXPECT_TRUE(fs::is_symlink(foreign / name)) << name;
    }
    EXPECT_TRUE(LogHas(" Download folder refused: " + foreign.string() + " belongs to another user (uid 65534)"));
    EXPECT_TRUE(LogHas(" [Download File Path]: " + PrivateInstallerPath().string()));
    EXPECT_EQ(ReadFile(PrivateInstallerPath()), installer_);
    EXPECT_TRUE(fs::exists(InstallDirectory() / "MorvikBackup.exe"));
}

TEST_F(PipelineTrustTest, APreStagedSignedScriptWithAMatchingRecordIsNeverRun) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a folder of another user";
    ThrowAwaySigner signer(root_ / "attacker");
    ASSERT_TRUE(signer.ok());
    const fs::path marker = root_ / "planted_ran";
    const std::string planted = signer.SignPadded(MarkerScript(marker), installer_.size());
    ASSERT_EQ(planted.size(), installer_.size());

    // Everything the reuse check asks for: the version, the public digest, every range done.
    const fs::path foreign = ForeignFolder();
    const fs::path staged = foreign / kInstallerName;
    WriteFile(staged, planted);
    ::chmod(staged.c_str(), 0755);
    WriteFile(staged.string() + ".db", "1.0.0.0###" + config_.Md5);
    WriteFile(staged.string() + ".xml",
              FinishedTaskFile(static_cast<std::int64_t>(planted.size()), config_.Download_url, staged.string()));
    for (const char* suffix : {"", ".db", ".xml"}) OwnByNobody(staged.string() + suffix);

    ASSERT_EQ(Run(TrustOptions()), 0) << Log();

    EXPECT_FALSE(fs::exists(marker)) << ReadFile(marker);
    EXPECT_EQ(server_.bytesSent(), static_cast<std::int64_t>(installer_.size())) << "the real installer is downloaded";
    EXPECT_EQ(ReadFile(PrivateInstallerPath()), installer_);
    EXPECT_TRUE(fs::exists(InstallDirectory() / "MorvikBackup.exe"));
    EXPECT_EQ(ReadFile(staged), planted) << "another user's files are left alone";
    EXPECT_EQ(service_.Count(Endpoint::ExceptionSend), 0u);
}

TEST_F(PipelineTrustTest, AnInstallerSwappedAfterItsCheckIsNeverStarted) {
    const fs::path marker = root_ / "swapped_ran";
    struct Case {
        const char* what;
        std::function<void(const std::string&)> swap;
    } cases[] = {
        {"replaced by another file",
         [&](const std::string& path) {
             WriteFile(root_ / "other", MarkerScript(marker));
             ::chmod((root_ / "other").c_str(), 0755);
             fs::rename(root_ / "other", path);
         }},
        {"rewritten in place",
         [&](const std::string& path) { std::ofstream(path, std::ios::binary | std::ios::trunc) << MarkerScript(marker); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::size_t boxesBefore = view_.Messages().size();
        InstallPipelineOptions options = TrustOptions();
        int calls = 0;
        options.beforeInstallerStart = [&](const std::string& path) {
            ++calls;
            EXPECT_EQ(path, InstallerPath().string());
            c.swap(path);
        };
        EXPECT_EQ(Run(options), -1);
        EXPECT_EQ(calls, 1);
        EXPECT_FALSE(fs::exists(marker));
        EXPECT_FALSE(fs::exists(InstallDirectory()));
        const std::vector<MessageKind> boxes = view_.Messages();
        ASSERT_EQ(boxes.size(), boxesBefore + 1);
        EXPECT_EQ(boxes.back(), MessageKind::MD5Fail);
        EXPECT_TRUE(LogHas(" [Error]: the installer changed after its check and is not started: "));
        EXPECT_FALSE(fs::exists(InstallerPath())) << "the next attempt downloads afresh";
    }
    EXPECT_TRUE(Has(Hits(), {"DownloaderInfo00", "DownloaderFailed", "-5"}));
}

TEST_F(PipelineTrustTest, TheCheckedInstallerIsReadOnlyWhenItStarts) {
    InstallPipelineOptions options = TrustOptions();
    unsigned mode = 0;
    options.beforeInstallerStart = [&](const std::string& path) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 0777;
    };
    ASSERT_EQ(Run(options), 0);
    EXPECT_EQ(mode & 0222, 0u) << std::oct << mode;
    EXPECT_EQ(mode & 0077, 0u) << std::oct << mode;
}

TEST_F(PipelineTrustTest, AnotherRunInTheSameFolderIsWaitedForAndThenFollowed) {
    fs::create_directories(TemporaryDownloadDirectory());
    ::chmod(TemporaryDownloadDirectory().c_str(), 0700);
    using Outcome = platform::FolderLock::Outcome;
    Outcome outcome = Outcome::FOLDER_LOCK_FAILED;
    std::string error;
    const std::string folder = TemporaryDownloadDirectory().string() + "/";

    // Held for longer than this run waits: it gives up without touching the folder.
    {
        auto other = platform::FolderLock::TryAcquire(folder, outcome, error);
        ASSERT_TRUE(other) << error;
        InstallPipelineOptions options = TrustOptions();
        options.folderLockWaitMs = 600;
        std::vector<std::string> told;
        options.onFolderBusy = [&](const std::string& busy) { told.push_back(busy); };
        EXPECT_EQ(Run(options), -1);
        EXPECT_EQ(told, std::vector<std::string>{folder});
        EXPECT_EQ(server_.bytesSent(), 0);
        EXPECT_TRUE(LogHas(" Another install is running in " + folder + ", waiting for it"));
        EXPECT_TRUE(Has(Hits(), {"DownloaderInfo00", "DownloaderFailed", "Unknown"}));
    }

    // Released while this run waits: it goes on and installs.
    auto other = platform::FolderLock::TryAcquire(folder, outcome, error);
    ASSERT_TRUE(other) << error;
    std::thread release([&other] {
        std::this_thread::sleep_for(400ms);
        other.reset();
    });
    InstallPipelineOptions options = TrustOptions();
    options.folderLockWaitMs = 60000;
    int told = 0;
    options.onFolderBusy = [&](const std::string&) { ++told; };
    const int result = Run(options);
    release.join();
    EXPECT_EQ(result, 0) << Log();
    EXPECT_EQ(told, 1);
    EXPECT_TRUE(fs::exists(InstallDirectory() / "MorvikBackup.exe"));
}

}  // namespace
}  // namespace pipelinetest

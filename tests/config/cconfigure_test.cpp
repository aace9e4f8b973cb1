// The product configuration from the fake maker service's reply and from skin labels.

#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "src/config/CConfigure.h"
#include "platform/ProcessLogger.h"
#include "tests/support/FakeMakerService.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestFiles.h"
#include "src/telemetry/WebLog.h"

namespace {

using qvtest::FakeMakerService;
using Endpoint = FakeMakerService::Endpoint;
using Behaviour = FakeMakerService::Behaviour;
namespace fs = std::filesystem;

using Labels = std::map<std::string, std::string>;

ControlTextLookup TableLookup(const Labels& labels) {
    return [labels](const std::string& name) -> std::optional<std::string> {
        auto it = labels.find(name);
        if (it == labels.end()) return std::nullopt;
        return it->second;
    };
}

using qvtest::ReadFile;

class ConfigureTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The query log goes to the temporary folder; keep it apart per test.
        const char* old = std::getenv("TMPDIR");
        if (old != nullptr) oldTmpdir_ = old;
        setenv("TMPDIR", temp_.c_str(), 1);
    }
    void TearDown() override {
        if (oldTmpdir_.empty()) {
            unsetenv("TMPDIR");
        } else {
            setenv("TMPDIR", oldTmpdir_.c_str(), 1);
        }
    }

    std::function<IWebLog*()> Client() {
        WebLogOptions options;
        options.endpoints = service_.Endpoints();
        options.registryFolder = temp_;
        return [options] { return new WebLog(options); };
    }
    // A configuration whose service answers `reply` as the whole XML document.
    std::unique_ptr<CConfigure> FromReply(const std::string& reply) {
        service_.SetReply(Endpoint::QueryDownloader, reply, "application/xml");
        auto configure = std::make_unique<CConfigure>(224, 1033, 127, Client());
        configure->getDownloaderInfo();
        return configure;
    }

    FakeMakerService service_;
    qvtest::TempFolder folder_{"qv-config-"};
    const fs::path& temp_ = folder_.path();
    std::string oldTmpdir_;
};

TEST_F(ConfigureTest, ConstructorAndResetStates) {
    CConfigure configure(224, 1033, 127, Client());
    EXPECT_EQ(configure.loadState, CONFIG_NOT_LOADED);
    EXPECT_EQ(configure.loadSource, CONFIG_SOURCE_NOTHING);
    EXPECT_EQ(configure.Downloader_id, 224);
    EXPECT_EQ(configure.Language_id, 1033);
    EXPECT_EQ(configure.Site_id, 127);
    EXPECT_EQ(configure.Downloader_type, 3);
    EXPECT_EQ(configure.Reply(), nullptr);

    configure.getDownloaderInfo();
    ASSERT_EQ(configure.parseDownloaderInfo(), 1);
    EXPECT_EQ(configure.reset(), 1);
    EXPECT_EQ(configure.loadState, CONFIG_NOT_LOADED);
    EXPECT_EQ(configure.loadSource, CONFIG_SOURCE_NOTHING);
    EXPECT_EQ(configure.Filesize, 0);
    EXPECT_EQ(configure.Software_id, 0);
    EXPECT_EQ(configure.Software_name, "");
    EXPECT_EQ(configure.Licensefile_url, "");
    EXPECT_TRUE(configure.remotePaths.empty());
    // Left alone by reset.
    EXPECT_EQ(configure.Downloader_id, 224);
    EXPECT_EQ(configure.Extra_download_url, "https://cdn.quorvane.example/downloads/extra/quorvane-studio-setup.exe");
}

TEST_F(ConfigureTest, ServiceReplyFillsEveryField) {
    auto configure = FromReply(FakeMakerService::DefaultDownloaderReply());
    ASSERT_NE(configure->Reply(), nullptr);
    ASSERT_EQ(configure->parseDownloaderInfo(), 1);
    EXPECT_EQ(configure->loadState, CONFIG_LOADED);
    EXPECT_EQ(configure->loadSource, CONFIG_SOURCE_SERVICE);
    EXPECT_EQ(configure->Software_id, 31);
    EXPECT_EQ(configure->Software_name, "Quorvane Studio");
    EXPECT_EQ(configure->Software_version, "2.4.1.0");
    EXPECT_EQ(configure->Process_name, "QuorvaneStudio.exe");
    EXPECT_EQ(configure->Md5, "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(configure->Filesize, 73400320);
    EXPECT_EQ(configure->remotePaths,
              (std::vector<std::string>{"https://download.quorvane.example/downloads/extra/quorvane-studio-setup.exe",
                                        "https://cdn.quorvane.example/downloads/extra/quorvane-studio-setup.exe"}));
    auto queries = service_.Requests(Endpoint::QueryDownloader);
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_EQ(queries[0].query, "LanguageId=00001033&SoftWareID=00000224&SiteID=00000127");
}

TEST_F(ConfigureTest, ReplyEdgeCases) {
    const struct {
        const char* what;
        std::string reply;
        std::vector<std::string> remotePaths;
        std::int64_t filesize;
    } cases[] = {
        {"equal urls give two entries",
         "<r><Download_url>https://a.example/x.exe</Download_url>"
         "<Extra_download_url>https://a.example/x.exe</Extra_download_url></r>",
         {"https://a.example/x.exe", "https://a.example/x.exe"},
         0},
        {"only the extra url",
         "<r><Download_url></Download_url><Extra_download_url>https://b.example/y.exe</Extra_download_url></r>",
         {"https://b.example/y.exe"},
         0},
        {"unknown elements skipped, size above 4 GiB kept whole",
         "<r><Unknown>1</Unknown><Filesize>5368709121</Filesize><download_url>lower case is unknown</download_url></r>",
         {},
         5368709121LL},
        {"a later element overwrites, a non-number leaves the field",
         "<r><Filesize>10</Filesize><Filesize>12</Filesize><Filesize>twelve</Filesize></r>", {}, 12},
    };
    for (const auto& c : cases) {
        auto configure = FromReply(c.reply);
        ASSERT_EQ(configure->parseDownloaderInfo(), 1) << c.what;
        EXPECT_EQ(configure->remotePaths, c.remotePaths) << c.what;
        EXPECT_EQ(configure->Filesize, c.filesize) << c.what;
    }
    auto ids = FromReply("<r><Downloader_id> 300 </Downloader_id><Site_id>x</Site_id><Software_id>99999999999</Software_id>"
                         "<Downloader_type>5</Downloader_type><Md5/></r>");
    ASSERT_EQ(ids->parseDownloaderInfo(), 1);
    EXPECT_EQ(ids->Downloader_id, 300);
    EXPECT_EQ(ids->Site_id, 127);    // not a number: unchanged
    EXPECT_EQ(ids->Software_id, 0);  // out of range: unchanged
    EXPECT_EQ(ids->Downloader_type, 5);
    EXPECT_EQ(ids->Language_id, 1033);  // the reply carries none
}

TEST_F(ConfigureTest, SoftwareNameKeepsUtf8AndIsCutAtWholeCharacters) {
    auto configure = FromReply("<r><Software_name>Морвик バックアップ 备份 &amp; more</Software_name></r>");
    ASSERT_EQ(configure->parseDownloaderInfo(), 1);
    EXPECT_EQ(configure->Software_name, "Морвик バックアップ 备份 & more");

    std::string longName;
    for (int i = 0; i < 300; ++i) longName += "备";
    configure = FromReply("<r><Software_name>a" + longName + "</Software_name></r>");
    ASSERT_EQ(configure->parseDownloaderInfo(), 1);
    EXPECT_EQ(configure->Software_name, "a" + longName.substr(0, 258 * 3));
}

TEST(Utf8PrefixTest, CutsAtCodePointsAndReplacesBrokenBytes) {
    const struct {
        std::string in;
        std::size_t max;
        std::string out;
    } cases[] = {
        {"abc", 2, "ab"},
        {"\xC3\xA9\xC3\xA9", 1, "\xC3\xA9"},
        {"x\xF0\x9F\x98\x80y", 2, "x\xF0\x9F\x98\x80"},
        {"a\xFF" "b", 3, "a\xEF\xBF\xBD" "b"},
        {"\xE5\xA4", 5, "\xEF\xBF\xBD\xEF\xBF\xBD"},      // a sequence cut short
        {"\xC0\xAF", 5, "\xEF\xBF\xBD\xEF\xBF\xBD"},      // overlong form
        {"\xED\xA0\x80", 5, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
        {"", 259, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Utf8Prefix(c.in, c.max), c.out) << c.in;
}

TEST_F(ConfigureTest, EmptyOrMalformedOrMissingReplyIsNoConfiguration) {
    for (const std::string reply : {"", "not xml at all", "<!-- only a comment -->"}) {
        auto configure = FromReply(reply);
        EXPECT_EQ(configure->parseDownloaderInfo(), 0) << reply;
        EXPECT_EQ(configure->loadState, CONFIG_NOT_LOADED);
    }
    service_.SetBehaviour(Endpoint::QueryDownloader, Behaviour::NotFound);
    CConfigure configure(224, 1033, 127, Client());
    EXPECT_EQ(configure.getDownloaderInfo(), 1);
    EXPECT_EQ(configure.Reply(), nullptr);
    EXPECT_EQ(configure.parseDownloaderInfo(), 0);
}

TEST_F(ConfigureTest, LanguageIdZeroNeverReachesTheServiceAndFallsBackToTheLabels) {
    CConfigure configure(224, 0, 127, Client());
    const Labels labels{{"Downloader_id", "224"}, {"Software_id", "0"}, {"Site_id", "127"}, {"Language_id", "0"},
                        {"Software_name", "Morvik Backup"}, {"Download_url", "https://d.example/s.exe"}};
    EXPECT_EQ(configure.loadConfiguration(TableLookup(labels)), CONFIG_SOURCE_SKIN);
    EXPECT_EQ(service_.Count(Endpoint::QueryDownloader), 0u);
    EXPECT_EQ(configure.ContentLines().front(), " Configure Load From File! ");
    // Each attempt is in the query log.
    const std::string log = ReadFile(CConfigure::QueryLogPath());
    const std::regex attempt(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d GetDownloaderInfo\.\.\.\n)"
                             R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d GetDownloaderInfo return -1\n)");
    std::size_t attempts = std::distance(std::sregex_iterator(log.begin(), log.end(), attempt), std::sregex_iterator());
    EXPECT_EQ(attempts, 3u) << log;
    EXPECT_EQ(CConfigure::QueryLogPath(), (temp_ / "QV_GetDownloaderInfo.log").string());
}

TEST_F(ConfigureTest, ServiceAnswerOnTheSecondAttemptStopsTheAttempts) {
    service_.SetBehaviour(Endpoint::QueryDownloader, Behaviour::Empty);
    CConfigure configure(224, 1033, 127, Client());
    configure.getDownloaderInfo();
    EXPECT_EQ(configure.parseDownloaderInfo(), 0);
    service_.SetReply(Endpoint::QueryDownloader, FakeMakerService::DefaultDownloaderReply());
    EXPECT_EQ(configure.loadConfiguration(TableLookup({})), CONFIG_SOURCE_SERVICE);
    EXPECT_EQ(service_.Count(Endpoint::QueryDownloader), 2u);
}

TEST_F(ConfigureTest, ShippedSkinLabelsGiveTheDefaultConfiguration) {
    tinyxml2::XMLDocument skin;
    ASSERT_EQ(skin.LoadFile(QV_SOURCE_DIR "/skin/configure/configure.xml"), tinyxml2::XML_SUCCESS);
    Labels labels;
    for (const auto* layout = skin.RootElement()->FirstChildElement("VerticalLayout"); layout;
         layout = layout->NextSiblingElement("VerticalLayout")) {
        if (!layout->Attribute("name", "Product_config")) continue;
        for (const auto* label = layout->FirstChildElement("Label"); label; label = label->NextSiblingElement("Label")) {
            const char* name = label->Attribute("name");
            const char* text = label->Attribute("text");
            if (name != nullptr) labels[name] = text != nullptr ? text : "";
        }
    }
    ASSERT_FALSE(labels.empty());
    CConfigure configure(0, 0, 0, Client());
    EXPECT_EQ(configure.loadFromControls(TableLookup(labels)), 1);
    EXPECT_EQ(configure.loadState, CONFIG_LOADED);
    EXPECT_EQ(configure.loadSource, CONFIG_SOURCE_SKIN);
    EXPECT_EQ(configure.Downloader_id, 224);
    EXPECT_EQ(configure.Software_id, 0);
    EXPECT_EQ(configure.Site_id, 127);
    EXPECT_EQ(configure.Language_id, 1033);
    EXPECT_EQ(configure.Downloader_type, 3);
    EXPECT_EQ(configure.Filesize, 0);
    ASSERT_EQ(configure.remotePaths.size(), 2u);
    EXPECT_EQ(configure.remotePaths[0], configure.remotePaths[1]);
    EXPECT_NE(configure.remotePaths[0].find("/downloads/extra/"), std::string::npos);
}

TEST_F(ConfigureTest, LabelsAreReadAsTextOrLeadingNumbers) {
    CConfigure configure(1, 1, 1, Client());
    const Labels labels{{"Downloader_id", " 12abc"}, {"Site_id", "abc"}, {"Language_id", "99999999999"},
                        {"Filesize", "5368709121"}, {"Software_name", "Ünïcødé"}, {"Extra_download_url", "https://e/x"}};
    configure.loadFromControls(TableLookup(labels));
    EXPECT_EQ(configure.Downloader_id, 12);
    EXPECT_EQ(configure.Site_id, 0);
    EXPECT_EQ(configure.Language_id, 0);
    EXPECT_EQ(configure.Software_id, 0);  // missing label
    EXPECT_EQ(configure.Filesize, 5368709121LL);
    EXPECT_EQ(configure.Software_name, "Ünïcødé");
    EXPECT_EQ(configure.remotePaths, std::vector<std::string>{"https://e/x"});
}

// Each field with its own value, so a field that one of the four walks skips shows as a
// wrong line: from every label, from every reply element, and what reset keeps of them.
TEST_F(ConfigureTest, EveryFieldIsLoadedPrintedAndResetOnItsOwn) {
    const Labels labels{{"Downloader_id", "11"},         {"Software_id", "12"},
                        {"Site_id", "13"},               {"Language_id", "14"},
                        {"Software_name", "name"},       {"Software_version", "version"},
                        {"Process_name", "process"},     {"Install_url", "install"},
                        {"Download_url", "download"},    {"Extra_download_url", "extra"},
                        {"Banner_url", "banner"},        {"Licensefile_url", "licence"},
                        {"Md5", "md5"},                  {"Md5_extra", "md5 extra"},
                        {"Cnet_download_url", "cnet"},   {"Filesize", "5000000000"}};
    CConfigure fromLabels(1, 1, 1, Client());
    fromLabels.Downloader_type = 7;
    fromLabels.loadFromControls(TableLookup(labels));
    EXPECT_EQ(fromLabels.Downloader_type, 3);
    EXPECT_EQ(fromLabels.ContentLines(),
              (std::vector<std::string>{" Configure Load From File! ", " [File ContentLength]: 5000000000",
                                        " [Downloader Id]: 11", " [SoftWare Id]: 12", " [Site Id]: 13",
                                        " [Language Id]: 14", " [Software Name]: name",
                                        " [Software Version]: version", " [Remote Path]: download",
                                        " [MD5 String]: md5", " [Process Name]: process", " [Install Url]: install",
                                        " [Banner Url]: banner", " [Licensefile Url]: licence",
                                        " [Extra Download Url]: extra", " [Cnet Download Url]: cnet",
                                        " [MD5 Extra String]: md5 extra"}));

    fromLabels.reset();
    EXPECT_EQ(fromLabels.Downloader_type, 3);
    EXPECT_TRUE(fromLabels.remotePaths.empty());
    EXPECT_EQ(fromLabels.ContentLines(),
              (std::vector<std::string>{" Configure Load From Nothing! ", " [File ContentLength]: 0",
                                        " [Downloader Id]: 11", " [SoftWare Id]: 0", " [Site Id]: 13",
                                        " [Language Id]: 14", " [Software Name]: ", " [Software Version]: ",
                                        " [Remote Path]: ", " [MD5 String]: ", " [Process Name]: ",
                                        " [Install Url]: ", " [Banner Url]: ", " [Licensefile Url]: ",
                                        " [Extra Download Url]: extra", " [Cnet Download Url]: cnet",
                                        " [MD5 Extra String]: md5 extra"}));

    auto fromReply = FromReply(
        "<r><Filesize>21</Filesize><Downloader_id>22</Downloader_id><Software_id>23</Software_id>"
        "<Site_id>24</Site_id><Language_id>25</Language_id><Software_name>n</Software_name>"
        "<Software_version>v</Software_version><Download_url>d</Download_url><Md5>m</Md5>"
        "<Process_name>p</Process_name><Install_url>i</Install_url><Banner_url>b</Banner_url>"
        "<Licensefile_url>l</Licensefile_url><Extra_download_url>e</Extra_download_url>"
        "<Cnet_download_url>c</Cnet_download_url><Md5_extra>x</Md5_extra><Downloader_type>26</Downloader_type></r>");
    ASSERT_EQ(fromReply->parseDownloaderInfo(), 1);
    EXPECT_EQ(fromReply->Downloader_type, 26);
    EXPECT_EQ(fromReply->remotePaths, (std::vector<std::string>{"d", "e"}));
    EXPECT_EQ(fromReply->ContentLines(),
              (std::vector<std::string>{" Configure Load From XML! ", " [File ContentLength]: 21",
                                        " [Downloader Id]: 22", " [SoftWare Id]: 23", " [Site Id]: 24",
                                        " [Language Id]: 1033", " [Software Name]: n", " [Software Version]: v",
                                        " [Remote Path]: d", " [MD5 String]: m", " [Process Name]: p",
                                        " [Install Url]: i", " [Banner Url]: b", " [Licensefile Url]: l",
                                        " [Extra Download Url]: e", " [Cnet Download Url]: c",
                                        " [MD5 Extra String]: x"}));
}

TEST_F(ConfigureTest, MissingLabelsAreLoggedInTheSkinsOrder) {
    const fs::path logFile = temp_ / "labels.log";
    ASSERT_TRUE(qvlog::ConfigureLogFile(logFile.string()));
    CConfigure configure(1, 1, 1, Client());
    configure.loadFromControls(TableLookup({{"Site_id", "5"}}));
    qvlog::InitDefaultLogger(false);
    const std::string log = ReadFile(logFile);
    std::vector<std::string> missing;
    const std::regex line(R"( \[Product_config\] no label: (\w+)\n)");
    for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator(); ++it) {
        missing.push_back((*it)[1]);
    }
    EXPECT_EQ(missing, (std::vector<std::string>{"Downloader_id", "Software_id", "Language_id", "Software_name",
                                                 "Software_version", "Process_name", "Install_url", "Download_url",
                                                 "Extra_download_url", "Banner_url", "Licensefile_url", "Md5",
                                                 "Md5_extra", "Cnet_download_url", "Filesize"}))
        << log;
}

TEST_F(ConfigureTest, PrintContentWritesTheLabelledLinesToTheLog) {
    auto configure = FromReply(FakeMakerService::DefaultDownloaderReply());
    configure->parseDownloaderInfo();
    const fs::path logFile = temp_ / "setup.log";
    ASSERT_TRUE(qvlog::ConfigureLogFile(logFile.string()));
    EXPECT_EQ(configure->printContent(), 1);
    qvlog::InitDefaultLogger(false);
    const std::string log = ReadFile(logFile);
    const char* expected[] = {
        " Configure Load From XML! ",
        " [File ContentLength]: 73400320",
        " [Downloader Id]: 224",
        " [SoftWare Id]: 31",
        " [Site Id]: 127",
        " [Language Id]: 1033",
        " [Software Name]: Quorvane Studio",
        " [Software Version]: 2.4.1.0",
        " [Remote Path]: https://download.quorvane.example/downloads/extra/quorvane-studio-setup.exe",
        " [MD5 String]: 0123456789abcdef0123456789abcdef",
        " [Process Name]: QuorvaneStudio.exe",
        " [Install Url]: https://www.quorvane.example/install",
        " [Banner Url]: https://www.quorvane.example/banner.png",
        " [Licensefile Url]: https://www.quorvane.example/licence.txt",
        " [Extra Download Url]: https://cdn.quorvane.example/downloads/extra/quorvane-studio-setup.exe",
        " [Cnet Download Url]: ",
        " [MD5 Extra String]: ",
    };
    std::size_t at = 0;
    for (const char* line : expected) {
        const std::size_t found = log.find(std::string(line) + "\n", at);
        ASSERT_NE(found, std::string::npos) << line << "\n" << log;
        at = found + 1;
    }
    EXPECT_NE(log.find("--[Thread]("), std::string::npos);
}

}  // namespace

// The profile store and the settings record read from and written to it.
#include "iniStore.h"
#include "qnSdkApi.h"
#include "settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

using namespace lumivar;

namespace {

// A fresh directory per test, removed with everything in it.
class TempDir {
public:
    TempDir()
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "lumivar-settings-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string &name) const { return (path_ / name).string(); }
    const std::filesystem::path &path() const { return path_; }

private:
    std::filesystem::path path_;
};

void writeFile(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string filtersText(const AppSettings &s)
{
    std::ostringstream out;
    for (const FilterRecord &f : s.filters) {
        out << f.name << '|' << f.type << '|' << f.applyToDevice << f.applyToControlPoint
            << '|' << f.pattern << '|' << f.pass << f.skip << ';';
    }
    return out.str();
}

// Every field in one line, so that a case states the whole record at once.
std::string describe(const AppSettings &s)
{
    std::ostringstream out;
    out << s.autoStartMonitor << s.autoStartExplorer << s.defaultPass << " [" << filtersText(s)
        << "] " << s.callbackPort << ' ' << s.callbackPath << ' ' << s.searchPort << ' '
        << s.adCount << ' ' << s.adPeriod << ' ' << s.localFilesPath << ' ' << s.webServerPort
        << ' ' << s.controlPort << ' ' << s.logToFile << s.verbose << s.logAll << s.logSsdp
        << s.logSoap << s.logHttp << s.logGena;
    return out.str();
}

} // namespace

TEST(IniStore, ReadsValuesAsWritten)
{
    struct Case {
        const char *name;
        const char *text;
        const char *section;
        const char *key;
        const char *expected; // nullptr: absent
    };
    const Case cases[] = {
        {"plain", "[A]\nk=v\n", "A", "k", "v"},
        {"crlf", "[A]\r\nk=v\r\n", "A", "k", "v"},
        {"no final line end", "[A]\nk=v", "A", "k", "v"},
        {"blanks around", "  [ A ]  \n  k  =  v w  \n", "A", "k", "v w"},
        {"commas kept", "[A]\nk=a, b,c\n", "A", "k", "a, b,c"},
        {"quotes and ; kept", "[A]\nk=\"x\" ; y\n", "A", "k", "\"x\" ; y"},
        {"second = in value", "[A]\nk=a=b\n", "A", "k", "a=b"},
        {"General is a section", "k=top\n[General]\nk=g\n", "General", "k", "g"},
        {"before any section", "k=top\n[General]\nk=g\n", "", "k", "top"},
        {"section ends keys", "[A]\n[B]\nk=v\n", "A", "k", nullptr},
        {"; comment", "[A]\n;k=v\n", "A", "k", nullptr},
        {"# comment", "[A]\n# k=v\n", "A", "k", nullptr},
        {"no =", "[A]\nk\n", "A", "k", nullptr},
        {"key case counts", "[A]\nK=v\n", "A", "k", nullptr},
        {"section case counts", "[a]\nk=v\n", "A", "k", nullptr},
        {"first of twins", "[A]\nk=1\nk=2\n", "A", "k", "1"},
        {"split section", "[A]\nx=1\n[B]\n[A]\nk=v\n", "A", "k", "v"},
        {"empty value", "[A]\nk=\n", "A", "k", ""},
        {"byte-order mark", "\xEF\xBB\xBF[A]\nk=v\n", "A", "k", "v"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        IniStore ini;
        ini.parse(c.text);
        EXPECT_EQ(ini.has(c.section, c.key), c.expected != nullptr);
        EXPECT_EQ(ini.get(c.section, c.key, "absent"), c.expected ? c.expected : "absent");
    }
}

TEST(IniStore, ReadsIntegersInDecimal)
{
    const std::pair<const char *, long> cases[] = {
        {"42", 42},  {"-7", -7}, {"+5", 5},      {"12abc", 12},  {"0x10", 0},
        {"abc", 0},  {"", 0},    {"+-3", 0},     {"99999999999999999999999", 0},
    };
    for (const auto &[text, expected] : cases) {
        SCOPED_TRACE(text);
        IniStore ini;
        ini.parse(std::string("[A]\nk=") + text + "\n");
        EXPECT_EQ(ini.getInt("A", "k", 99), expected);
    }
    EXPECT_EQ(IniStore().getInt("A", "k", 99), 99);
}

TEST(IniStore, EditsKeepEveryOtherLine)
{
    IniStore ini;
    ini.parse("; profile\r\n[A]\r\nx = 1\r\nkeep=  same \r\n\r\n# note\r\n[B]\r\ny=2\r\n");
    ini.set("A", "x", "changed");
    ini.set("A", "keep", "same");
    ini.set("A", "new", "n");
    ini.set("C", "z", "3\nbroken=1");
    ini.setUnsigned("B", "u", 4294967295UL);
    ini.setInt("B", "y", -2);
    EXPECT_EQ(ini.text(), "; profile\r\n[A]\r\nx=changed\r\nkeep=  same \r\nnew=n\r\n\r\n"
                          "# note\r\n[B]\r\ny=-2\r\nu=4294967295\r\n\r\n[C]\r\nz=3\r\n");

    IniStore fresh;
    fresh.set("A", "k", "v");
    fresh.set("B", "k", "w");
    EXPECT_EQ(fresh.text(), "[A]\nk=v\n\n[B]\nk=w\n");
}

TEST(IniStore, FileFailures)
{
    TempDir dir;
    IniStore ini;
    ini.parse("[A]\nk=v\n");
    EXPECT_FALSE(ini.load(dir.file("missing.ini")));
    EXPECT_FALSE(ini.has("A", "k"));
    EXPECT_FALSE(ini.save(dir.file("no/such/dir.ini")));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(Settings, MissingFileGivesDefaultsAndEveryKeyRoundTrips)
{
    TempDir dir;
    const std::string path = dir.file("Zentrova.ini");
    AppSettings in;
    in.filters.push_back({"stale", 1, true, true, "x", true, true});
    EXPECT_FALSE(loadSettings(path, "/app/", in));
    EXPECT_EQ(describe(in), "011 [] 30808 /Zentrova 0 1 20 /app/ 30909 30909 0000000");

    in.autoStartMonitor = true;
    in.defaultPass = false;
    in.filters = {{"Drop Acme", FT_MANUFACTURER, true, false, "Acme, Inc.", false, true},
                  {"Lan", FT_IP_ADDRESS, false, true, "10.0.0.*", true, false}};
    in.callbackPort = 1234;
    in.callbackPath = "/cb,1";
    in.searchPort = -1;
    in.adCount = 4294967295u;
    in.adPeriod = 4000000000u;
    in.localFilesPath = "/srv/files/";
    in.webServerPort = 65535;
    in.controlPort = 2;
    in.logToFile = in.verbose = in.logSsdp = in.logGena = true;
    ASSERT_TRUE(saveSettings(path, in));
    // The two counts are unsigned in the file, the rest signed.
    const std::string text = readFile(path);
    EXPECT_NE(text.find("AdCount=4294967295\n"), std::string::npos) << text;
    EXPECT_NE(text.find("SearchPort=-1\n"), std::string::npos) << text;

    AppSettings out;
    ASSERT_TRUE(loadSettings(path, "/elsewhere/", out));
    EXPECT_EQ(describe(out), describe(in));
}

TEST(Settings, LoadRules)
{
    struct Case {
        const char *name;
        const char *text;
        const char *filters; // as filtersText writes them
        bool (*check)(const AppSettings &);
    };
    const Case cases[] = {
        {"filter defaults", "[Filter]\nName0=a\nPattern0=p\n", "a|1|00|p|11;", nullptr},
        {"name without pattern ends the list",
         "[Filter]\nName0=a\nType0=2\nPass0=0\nName1=b\nPattern1=q\n", "", nullptr},
        {"empty name hides leftovers",
         "[Filter]\nName0=a\nPattern0=p\nName1=\nName2=c\nPattern2=r\n", "a|1|00|p|11;",
         nullptr},
        {"filter keys as written",
         "[Filter]\nName0=x, y\nType0=6\nDev0=1\nCP0=1\nPattern0=1.2.3.4\nPass0=0\nSkip0=0\n",
         "x, y|6|11|1.2.3.4|00;", nullptr},
        {"AutoDE 0 still starts the explorer", "[General]\nAutoDE=0\nAutoCPE=1\n", "",
         [](const AppSettings &s) { return s.autoStartExplorer && s.autoStartMonitor; }},
        {"All forces the modules on", "[Log]\nAll=1\nSsdp=0\nSoap=0\nGena=0\nHttp=0\n", "",
         [](const AppSettings &s) { return s.logSsdp && s.logSoap && s.logGena && s.logHttp; }},
        {"no number reads 0", "[ActDev]\nCBPort=abc\n[VDev]\nAdPeriod=x\n[Filter]\nDefPass=no\n",
         "", [](const AppSettings &s) {
             return s.callbackPort == 0 && s.adPeriod == 0 && !s.defaultPass;
         }},
        {"commas and General are plain text", "[General]\nAutoCPE=1\n[ActDev]\nCBUrl=/a,b,c\n", "",
         [](const AppSettings &s) { return s.autoStartMonitor && s.callbackPath == "/a,b,c"; }},
        {"keys of other sections are not ours", "[Other]\nCBPort=1\n[Filter]\n[ActDev]\n", "",
         [](const AppSettings &s) { return s.callbackPort == 30808; }},
    };
    TempDir dir;
    const std::string path = dir.file("Zentrova.ini");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path, c.text);
        AppSettings s;
        ASSERT_TRUE(loadSettings(path, "/app/", s));
        EXPECT_EQ(filtersText(s), c.filters);
        if (c.check != nullptr) {
            EXPECT_TRUE(c.check(s));
        }
    }
}

TEST(Settings, SaveMergesIntoTheProfile)
{
    TempDir dir;
    const std::string path = dir.file("Zentrova.ini");
    std::string five = "[General]\r\nAutoDE=0\r\nLayout=a,b\r\n[Filter]\r\n";
    for (int i = 0; i < 5; ++i) {
        const std::string n = std::to_string(i);
        five += "Name" + n + "=f" + n + "\r\nPattern" + n + "=p" + n + "\r\n";
    }
    five += "[Log]\r\nAll=1\r\n[Bars-Bar0]\r\nBarID=59392\r\nVisible=0\r\n";
    writeFile(path, five);

    AppSettings s;
    ASSERT_TRUE(loadSettings(path, "/app/", s));
    ASSERT_EQ(s.filters.size(), 5u);
    s.filters.resize(2);
    ASSERT_TRUE(saveSettings(path, s));

    const std::string text = readFile(path);
    EXPECT_EQ(text.rfind("[General]\r\nAutoDE=1\r\nLayout=a,b\r\nAutoCPE=0\r\n", 0), 0u) << text;
    EXPECT_NE(text.find("Name2=\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Pattern4=p4\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Ssdp=1\r\nSoap=1\r\nGena=1\r\nHttp=1\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[Bars-Bar0]\r\nBarID=59392\r\nVisible=0\r\n"), std::string::npos) << text;

    AppSettings back;
    ASSERT_TRUE(loadSettings(path, "/app/", back));
    EXPECT_EQ(filtersText(back), "f0|1|00|p0|11;f1|1|00|p1|11;");
}

TEST(Settings, LongTextsAreCutWhereHandedOn)
{
    TempDir dir;
    const std::string path = dir.file("Zentrova.ini");
    const std::string longUrl = "/" + std::string(199, 'u');
    writeFile(path, "[ActDev]\nCBUrl=" + longUrl + "\n");
    AppSettings s;
    ASSERT_TRUE(loadSettings(path, "/" + std::string(130, 'd') + "/", s));
    EXPECT_EQ(usedCallbackPath(s), longUrl.substr(0, 127));
    EXPECT_EQ(usedLocalFilesPath(s).size(), 127u);
    ASSERT_TRUE(saveSettings(path, s));
    EXPECT_NE(readFile(path).find("CBUrl=" + longUrl + "\n"), std::string::npos);
}

TEST(Settings, SaveLeavesAnUnreadableProfileAlone)
{
    TempDir dir;
    const std::string path = dir.file("Zentrova.ini");
    writeFile(path, std::string(kIniMaxBytes + 1, ';'));
    EXPECT_FALSE(saveSettings(path, AppSettings{}));
    EXPECT_EQ(std::filesystem::file_size(path), kIniMaxBytes + 1);
}

TEST(Settings, ApplicationDirectory)
{
    TempDir dir;
    const std::filesystem::path before = std::filesystem::current_path();
    const std::filesystem::path odd = dir.path() / "a\\b";
    std::filesystem::create_directory(odd);
    std::filesystem::current_path(odd);
    const std::string appDir = applicationDirectory();
    // A directory that is gone cannot be read.
    std::filesystem::remove(odd);
    const std::string goneDir = applicationDirectory();
    std::filesystem::current_path(before);

    EXPECT_EQ(appDir, dir.path().string() + "/a/b/");
    EXPECT_EQ(goneDir, "./");
    EXPECT_EQ(settingsPath(appDir), appDir + "Zentrova.ini");
}

namespace {

std::string heard;

void recordLine(int32_t category, const char *, int32_t level)
{
    heard += std::to_string(category) + ":" + std::to_string(level) + " ";
}

} // namespace

TEST(Settings, LogLevelsReachTheStack)
{
    AppSettings quiet, ssdpHttp, verboseSoap, all;
    ssdpHttp.logSsdp = ssdpHttp.logHttp = true;
    verboseSoap.verbose = verboseSoap.logSoap = verboseSoap.logGena = true;
    all.logAll = true;
    const std::pair<AppSettings, const char *> cases[] = {
        {quiet, ""},
        {ssdpHttp, "2:1 5:1 "},
        {verboseSoap, "3:1 3:2 3:3 4:1 4:2 4:3 "},
        {all, "0:1 1:1 2:1 3:1 4:1 5:1 6:1 7:1 "},
    };
    ASSERT_EQ(qnSetDebugSink(recordLine), QN_OK);
    for (const auto &[settings, expected] : cases) {
        SCOPED_TRACE(expected);
        applyLogLevels(all); // what was on before must not leak through
        applyLogLevels(settings);
        heard.clear();
        for (int32_t category = 0; category < QN_LOG_CATEGORY_COUNT; ++category) {
            for (int32_t level = 1; level <= 3; ++level)
                qnDebugPrint(category, "x", level);
        }
        EXPECT_EQ(heard, expected);
    }
    qnSetDebugSink(nullptr);
}

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/tqm.h"
#include "tests/support/temp_home.h"

namespace fs = std::filesystem;
using testsupport::writeFile;

namespace {

std::string xmlInfo(const std::string& version) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n"
           "\t<key>CFBundleExecutable</key>\n\t<string>Synth</string>\n"
           "\t<key>CFBundleShortVersionString</key>\n\t<string>" + version + "</string>\n"
           "</dict>\n</plist>\n";
}

// A binary property list holding one dictionary of ASCII strings, built byte by byte.
std::string binaryInfo(const std::string& key, const std::string& value) {
    auto ascii = [](const std::string& s) {
        std::string out;
        if (s.size() < 15) {
            out += char(0x50 | s.size());
        } else {
            out += char(0x5F);
            out += char(0x10);
            out += char(s.size());  // short strings only
        }
        return out + s;
    };
    std::string out = "bplist00";
    std::vector<size_t> offsets;
    offsets.push_back(out.size());
    out += "\xD1\x01\x02";  // dictionary of one pair: key object 1, value object 2
    offsets.push_back(out.size());
    out += ascii(key);
    offsets.push_back(out.size());
    out += ascii(value);
    const size_t table = out.size();
    for (size_t o : offsets) out += char(o);
    std::string trailer(32, '\0');
    trailer[6] = 1;                       // offset size
    trailer[7] = 1;                       // object reference size
    trailer[15] = char(offsets.size());   // object count
    trailer[23] = 0;                      // top object
    trailer[31] = char(table);            // offset table position
    return out + trailer;
}

std::string repeat(const std::string& s, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

class AppsTest : public testsupport::TempHomeTest {
protected:
    tqm::Layout layout() const {
        tqm::Layout l;
        l.root = path("root");
        return l;
    }
    std::string bundle(const std::string& name) const { return layout().appsDir() + "/" + name; }
};

TEST_F(AppsTest, ReadsTheBundleVersion) {
    struct Case {
        const char* what;
        std::string info;  // empty: no Info.plist
        std::string expected;
    };
    const Case cases[] = {
        {"xml", xmlInfo("2.4.1"), "2.4.1"},
        {"binary", binaryInfo("CFBundleShortVersionString", "3.0.7"), "3.0.7"},
        {"127 bytes", xmlInfo(std::string(127, '9')), std::string(127, '9')},
        {"128 bytes", xmlInfo(std::string(128, '9')), ""},
        {"missing", "", ""},
        {"damaged xml", xmlInfo("2.4.1").substr(0, 200), ""},
        {"damaged binary", binaryInfo("CFBundleShortVersionString", "3.0.7").substr(0, 30), ""},
        {"other key", binaryInfo("CFBundleVersion", "3.0.7"), ""},
        {"not a string", "<plist version=\"1.0\"><dict><key>CFBundleShortVersionString</key><integer>3</integer></dict></plist>", ""},
        {"not a dictionary", "<plist version=\"1.0\"><array><string>1.0</string></array></plist>", ""},
        {"garbage", "\x01\x02 not a property list at all", ""},
        {"nested too deeply", "<plist version=\"1.0\">" + repeat("<array>", 300000) + repeat("</array>", 300000) + "</plist>", ""},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string b = path("b" + std::to_string(n++) + "/Synth.app");
        fs::create_directories(b + "/Contents");
        if (!c.info.empty()) {
            ASSERT_TRUE(writeFile(b + "/Contents/Info.plist", c.info));
        }
        EXPECT_EQ(tqm::bundleVersion(b), c.expected);
    }
    // A folder in the file's place gives nothing either.
    fs::create_directories(path("dir/Synth.app/Contents/Info.plist"));
    EXPECT_EQ(tqm::bundleVersion(path("dir/Synth.app")), "");
}

TEST_F(AppsTest, FindsApplications) {
    const tqm::InstalledFormat record{"1.0.0", bundle("Recorded.app"), "", "", "Recorded", "key"};
    const tqm::InstalledFormat gone{"1.5.0", bundle("Gone.app"), "", "", "", ""};
    fs::create_directories(bundle("Recorded.app/Contents/MacOS"));
    writeFile(bundle("Recorded.app/Contents/MacOS/Recorded"), "#!");
    writeFile(bundle("Recorded.app/Contents/Info.plist"), xmlInfo("1.2.0"));
    writeFile(bundle("Found.app/Contents/Info.plist"), xmlInfo("4.0"));
    writeFile(bundle("Found.app/Contents/MacOS/Found"), "#!");
    fs::create_directories(bundle("NoProgram.app/Contents/MacOS"));
    fs::create_directories(bundle("Plain.app"));

    struct Case {
        const char* what;
        std::string item, exe;
        const tqm::InstalledFormat* record;
        bool installed, present, unrecorded;
        std::string version, path;
    };
    const Case cases[] = {
        {"recorded, version from the bundle", "Recorded.app", "Recorded", &record, true, true, false, "1.2.0",
         bundle("Recorded.app")},
        {"deleted by hand", "Gone.app", "", &gone, true, false, false, "1.5.0", bundle("Gone.app")},
        {"found unrecorded", "Found.app", "Found", nullptr, true, true, true, "4.0", bundle("Found.app")},
        {"bundle without the program", "NoProgram.app", "NoProgram", nullptr, false, false, false, "",
         bundle("NoProgram.app")},
        {"no program name: the folder counts", "Plain.app", "", nullptr, true, true, true, "", bundle("Plain.app")},
        {"not there", "Missing.app", "Missing", nullptr, false, false, false, "", bundle("Missing.app")},
        {"empty item, no record", "", "", nullptr, false, false, false, "", layout().appsDir()},
        {"empty item with a record", "", "", &gone, true, false, false, "1.5.0", bundle("Gone.app")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        tqm::AppPlace p = tqm::findApp(layout(), "key", c.item, c.exe, c.record);
        EXPECT_EQ(p.installed, c.installed);
        EXPECT_EQ(p.present, c.present);
        EXPECT_EQ(p.unrecorded, c.unrecorded);
        EXPECT_EQ(p.version, c.version);
        EXPECT_EQ(p.path, c.path);
    }
}

TEST(PlainlyApp, NamesOnlyThatApplication) {
    struct Case {
        const char* path;
        const char* item;
        bool plain;
    };
    const Case cases[] = {
        {"/Applications/Synth.app", "synth.APP", true},
        {"/Applications/Ardune Systems/Synth.app", "Synth.app", true},
        {"rel/Synth.app", "Synth.app", true},
        {"/Synth.app", "Synth.app", false},
        {"Synth.app", "Synth.app", false},
        {"/Applications/Synth.app", "", false},
        {"/Applications/Other.app", "Synth.app", false},
        {"/Applications/Synth.app/", "Synth.app", false},
        {"/x/../Synth.app", "Synth.app", false},
        {"/Applications/./Synth.app", "Synth.app", false},
        {"", "Synth.app", false},
    };
    for (const Case& c : cases) EXPECT_EQ(tqm::plainlyApp(c.path, c.item), c.plain) << c.path << " " << c.item;
    // A NUL byte would make the system act on "/Users" while "Synth.app" was checked.
    EXPECT_FALSE(tqm::plainlyApp(std::string("/Users") + '\0' + "/x/Synth.app", "Synth.app"));
    EXPECT_EQ(tqm::appProgram("/A/Synth.app", "Synth"), "/A/Synth.app/Contents/MacOS/Synth");
}

}  // namespace

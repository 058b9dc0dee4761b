// The names a received file and its folders get on disk: whatever the phone asks for, a name the
// server can create inside its folder, that hides nothing and cannot disguise itself.
#include "server/RequestHead.h"
#include "server/UploadNaming.h"

#include <gtest/gtest.h>

namespace ferrylantern {
namespace {

// A letter followed by `marks` combining acute accents: one character of 1 + 2 * marks bytes.
std::string heavilyAccented(int marks)
{
    std::string text = "a";
    for (int i = 0; i < marks; ++i) {
        text += "\u0301";
    }
    return text;
}

// What a sender could use to disguise a name or hide a file never reaches the disk, and two spellings
// of one name are one file; names without such characters stay as they are. Long names are shortened to
// 255 bytes keeping the extension and whole characters, so a first character longer than that leaves
// nothing, and one after two dots leaves ".."; names that are nothing or dots get a fresh upload name.
TEST(SafeFileName, TakesTheLastComponentAndReplacesWhatCouldDisguiseOrHideIt)
{
    const std::string fresh = "upload-";
    const struct
    {
        const char* row;
        std::string requested;
        std::string safe;
    } cases[] = {
        {"an ordinary name", "IMG_2041.HEIC", "IMG_2041.HEIC"},
        {"trimmed", "  photo.jpg \n", "photo.jpg"},
        {"the last path component", "a/b/../c.txt", "c.txt"},
        {"a trailing slash", "dir/sub/", "sub"},
        {"colon and backslash", "a:b\\c.txt", "a_b_c.txt"},
        {"only slashes", "///", "_"},
        {"three dots", "...", "_.."},
        {"Chinese", "中文 名.pdf", "中文 名.pdf"},
        {"NUL cannot cut the name short", std::string("evil\0.txt", 9), "evil_.txt"},
        {"escape sequence", "a\x1B[2Jb.txt", "a_[2Jb.txt"},
        {"carriage return and line feed inside", "a\rb\nc.txt", "a_b_c.txt"},
        {"C1 control", "a\u0085b\u009B.txt", "a_b_.txt"},
        {"DEL", "a\x7F.txt", "a_.txt"},
        {"right-to-left override", "IMG_2041\u202Egpj.sh", "IMG_2041_gpj.sh"},
        {"isolates and marks", "\u2066a\u2069\u200Eb\u061C.txt", "_a__b_.txt"},
        {"zero-width space and BOM", "a\u200Bb\uFEFF.txt", "a_b_.txt"},
        {"line separator", "a\u2028b.txt", "a_b.txt"},
        {"invalid UTF-8", "a\xFF\xC0.txt", "a__.txt"},
        {"hidden file", ".bashrc", "_bashrc"},
        {"hidden after a path", "x/.ssh", "_ssh"},
        // Left-over partial files are removed on start-up; a received file of that name must not be.
        {"a partial file's name", ".ferrylantern-0F8E0C52-6A1B-4D5E-9E43-2B1C3D4E5F60.part",
         "_ferrylantern-0F8E0C52-6A1B-4D5E-9E43-2B1C3D4E5F60.part"},
        {"decomposed becomes composed", "Cafe\u0301.txt", "Caf\u00E9.txt"},
        {"emoji joiner kept", "\U0001F468\u200D\U0001F469.png", "\U0001F468\u200D\U0001F469.png"},
        {"Persian non-joiner kept", "\u0645\u06CC\u200C\u062E\u0648\u0627\u0647\u0645.txt",
         "\u0645\u06CC\u200C\u062E\u0648\u0627\u0647\u0645.txt"},
        {"long, with an extension", std::string(300, 'a') + ".jpeg", std::string(250, 'a') + ".jpeg"},
        {"long, without", std::string(400, 'b'), std::string(255, 'b')},
        {"empty", "", fresh},
        {"blank", "   ", fresh},
        {"one dot", ".", fresh},
        {"two dots", "a/..", fresh},
        {"a dot folder", "./", fresh},
        {"a first character over 255 bytes", heavilyAccented(200), fresh},
        {"two dots before it", ".." + heavilyAccented(200), fresh},
    };
    for (const auto& row : cases) {
        const auto safe = safeFileName(row.requested);
        if (row.safe == fresh) {
            EXPECT_TRUE(safe.size() == fresh.size() + 36 && safe.starts_with(fresh)) << row.row << ": " << safe;
        } else {
            EXPECT_EQ(safe, row.safe) << row.row;
        }
    }
    EXPECT_NE(safeFileName("."), safeFileName("."));
    std::string chinese;
    for (int i = 0; i < 100; ++i) {
        chinese += "文";
    }
    const auto shortened = safeFileName(chinese + ".txt");
    EXPECT_LE(shortened.size(), maxFileNameBytes);
    EXPECT_TRUE(shortened.ends_with(".txt"));
    EXPECT_EQ((shortened.size() - 4) % 3, 0U) << "cut inside a character";
}

// The folders a file of a picked or dropped folder goes into: the sender's relative path can only go
// down from the device folder, every folder keeps to the rule of file names, and no deeper than 8.
TEST(SubfolderPath, OnlyEverGoesDownAndKeepsEightLevels)
{
    const struct
    {
        const char* row;
        std::string requested;
        std::string safe;
    } cases[] = {
        {"none", "", ""},
        {"three levels with spaces", "Trip/Day 1/ 早上 ", "Trip/Day 1/早上"},
        {"a parent step in the middle", "a/../b", "a/b"},
        {"only dots and slashes", "./.././/..", ""},
        {"absolute", "/home/user/.ssh", "home/user/_ssh"},
        {"doubled and trailing slashes", "a//b/", "a/b"},
        {"a parent step after trimming", "x/ .. /y", "x/y"},
        {"backslashes and colons are not separators", "..\\win\\c:", "_._win_c_"},
        {"controls and bidi overrides", "a\x1B[2J/\u202Egpj", "a_[2J/_gpj"},
        {"left-out steps do not count as levels", "../1/./2/3/4/5/6/7/8/9", "1/2/3/4/5/6/7/8"},
        {"a folder that shortens to nothing", "a/" + heavilyAccented(200) + "/b", "a/_/b"},
        {"a long folder name", std::string(300, 'f'), std::string(255, 'f')},
        {"decomposed becomes composed", "Cafe\u0301", "Caf\u00E9"},
    };
    for (const auto& row : cases) {
        EXPECT_EQ(safeSubfolderPath(row.requested), row.safe) << row.row;
    }
}

// A device name cannot hide its folder (".ssh" in a save folder that is the home folder would be the
// real one), rewrite a terminal, reorder what the window shows or become a dot name: trimmed a second
// time after the last path component is taken, " .." would be "..", beside the save folder.
TEST(DeviceFolder, SanitizesNamesAndNeverBecomesADotName)
{
    const struct
    {
        std::string name;
        std::string folder;
    } cases[] = {
        {"  小明的手机 ", "小明的手机"},
        {"a/b", "b"},
        {"x:y\\z", "x_y_z"},
        {"/", "_"},
        {"", "unknown-device"},
        {std::string(70, 'p'), std::string(64, 'p')},
        {".ssh", "_ssh"},
        {"Phone\x1B]0;x\x07", "Phone_]0;x_"},
        {"\u202EenohP", "_enohP"},
        {"Jose\u0301", "Jos\u00E9"},
        {"..", "unknown-device"},
        {"x/ ..", "unknown-device"},
        {". /", "unknown-device"},
        {"x/\u3000.\u3000", "unknown-device"},
        {".." + heavilyAccented(200), "unknown-device"},
        {heavilyAccented(200), "unknown-device"},
    };
    for (const auto& row : cases) {
        EXPECT_EQ(sanitizedDeviceName(row.name), row.folder) << row.name;
    }
    std::string emoji;
    for (int i = 0; i < 64; ++i) {
        emoji += "👩‍👩‍👧‍👦"; // 25 bytes each: 64 of them would not fit a file name
    }
    EXPECT_LE(sanitizedDeviceName(emoji).size(), maxFileNameBytes);
    EXPECT_EQ(deviceLabelFromUserAgent("Mozilla/5.0 (Linux; x/ .. Build/1) Android"), "unknown-device");
}

RequestHead headWith(std::string_view target, std::string_view userAgent = "")
{
    RequestHead head;
    head.target = std::string(target);
    head.query = parseQuery(target);
    if (!userAgent.empty()) {
        head.headers["user-agent"] = std::string(userAgent);
    }
    return head;
}

TEST(DeviceFolder, ComesFromQueryThenUserAgentThenPeer)
{
    const std::optional<std::string> peer = "192.168.1.20";
    EXPECT_EQ(deviceFolderFor(headWith("/v1/upload?device=Anna&devicename=B"), peer), "Anna");
    EXPECT_EQ(deviceFolderFor(headWith("/v1/upload?device=&devicename=B"), peer), "B");
    EXPECT_EQ(deviceFolderFor(headWith("/v1/upload?device_name=C"), peer), "C");
    EXPECT_EQ(deviceFolderFor(headWith("/v1/upload", "curl/7.88.1"), peer), "device-192-168-1-20");
    EXPECT_EQ(deviceFolderFor(headWith("/v1/upload"), std::nullopt), "device-unknown");
    const struct
    {
        const char* agent;
        const char* folder;
    } agents[] = {
        {"Mozilla/5.0 (iPhone; CPU iPhone OS 17_0 like Mac OS X)", "iPhone"},
        {"Mozilla/5.0 (iPad; CPU OS 16_0 like Mac OS X)", "iPad"},
        {"Mozilla/5.0 (Linux; Android 13; Pixel 7 Build/TQ3A.230805.001)", "Android 13; Pixel 7"},
        {"Mozilla/5.0 (Linux; Android 10; K) AppleWebKit/537.36", "Android"},
        {"Mozilla/5.0 (Linux; Linux Build/X) Android", "Android"},
        {"Mozilla/5.0 (X11; Linux x86_64)", "device-192-168-1-20"},
    };
    for (const auto& row : agents) {
        EXPECT_EQ(deviceFolderFor(headWith("/v1/upload?device=%20%20", row.agent), peer), row.folder) << row.agent;
    }
}

// A copy's name must fit in 255 bytes too, or keeping both files fails only after the whole body has
// arrived; the upload test sees a name that is nearly all extension.
TEST(CopyName, NumbersBeforeTheExtensionAndFitsWhenTheExtensionNearlyFillsTheName)
{
    EXPECT_EQ(copyName("archive.tar.gz", 2), "archive.tar-2.gz");
    EXPECT_EQ(copyName("README", 3), "README-3");
    EXPECT_EQ(copyName(".bashrc", 1), ".bashrc-1");
    EXPECT_EQ(copyName(std::string(251, 'a') + ".jpg", 12), std::string(248, 'a') + "-12.jpg");
    std::string wide = "a.";
    for (int i = 0; i < 84; ++i) {
        wide += "文"; // 254 bytes in all; the extension is cut at a character, never inside one
    }
    const auto copy = copyName(wide, 7);
    EXPECT_LE(copy.size(), maxFileNameBytes);
    EXPECT_EQ((copy.size() - std::string("a-7.").size()) % 3, 0U);
}

} // namespace
} // namespace ferrylantern

// The drop handler driven in-process with drops built by the test: every path converted whole
// and in order, the settings read once per drop, and one warning box per failing file.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/panel.h"
#include "app/panel_state.h"
#include "convert/warning_box.h"
#include "tests/app/panel_test_support.h"

namespace {

class PanelDropTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(CreateTestPanel(), nullptr);
        panelEvents.clear();
        recordedConversions.clear();
        failingPaths.clear();
        capturedBoxes.clear();
        duringConversion = nullptr;
    }
    void TearDown() override {
        duringConversion = nullptr;
        DestroyTestPanel();
    }
    static void Drop(const std::vector<std::string>& paths) {
        SendMessageA(panelWindow, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(paths)), 0);
    }
    static std::vector<std::string> RecordedPaths() {
        std::vector<std::string> paths;
        for (const RecordedConversion& call : recordedConversions) paths.push_back(call.path);
        return paths;
    }
};

struct SettingsCase {
    const char* name;
    const char* shakeText;
    bool checked;
    const char* limitText;
    int32_t shakePercent;
    int32_t sizeLimit;
};

class DropSettingsTest : public PanelDropTest, public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(DropSettingsTest, EveryFileOfTheDropGetsTheSettingsReadAtItsStart) {
    const SettingsCase& c = GetParam();
    SetWindowTextA(shakeEdit, c.shakeText);
    SetWindowTextA(limitEdit, c.limitText);
    SendMessageA(sizeLimitCheckbox, BM_SETCHECK, c.checked ? BST_CHECKED : BST_UNCHECKED, 0);
    Drop({"C:\\in\\a.png", "C:\\in\\b.png"});
    ASSERT_EQ(recordedConversions.size(), 2u);
    for (const RecordedConversion& call : recordedConversions) {
        EXPECT_EQ(call.settings.shakePercent, c.shakePercent);
        EXPECT_EQ(call.settings.limitEnabled, c.checked);
        EXPECT_EQ(call.settings.sizeLimit, c.sizeLimit);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EditTexts, DropSettingsTest,
    ::testing::Values(
        SettingsCase{"Defaults", "20", false, "400", 20, 400},
        SettingsCase{"EmptyEditsGiveZero", "", true, "", 0, 0},
        SettingsCase{"Signs", "-15", true, "+250", -15, 250},
        SettingsCase{"LeadingWhiteSpace", " \t\n\v\f\r42", false, "  7", 42, 7},
        SettingsCase{"DigitsThenOtherCharacters", "12abc", true, "300px", 12, 300},
        SettingsCase{"NoLeadingDigits", "abc", true, "x400", 0, 0},
        SettingsCase{"WrapsBeyond32Bits", "4294967297", false, "99999999999", 1, 1215752191},
        SettingsCase{"WrapsToNegative", "2147483648", true, "-2147483649", INT32_MIN, INT32_MAX},
        // 30 characters are read; the 31st digit would make 15 and 400 out of 1 and 40.
        SettingsCase{"OnlyTheFirst30Characters", "000000000000000000000000000001" "5", true,
                     "                            40" "0", 1, 40},
        SettingsCase{"LimitReadWithTheBoxUnchecked", "20", false, "123", 20, 123}),
    [](const ::testing::TestParamInfo<SettingsCase>& info) { return std::string(info.param.name); });

TEST_F(PanelDropTest, ConvertsEveryPathInDropOrderReadingTheControlsOnce) {
    // The first conversion changes every control: later files must not see it.
    duringConversion = [](const std::string&) {
        SetWindowTextA(shakeEdit, "77");
        SetWindowTextA(limitEdit, "9");
        SendMessageA(sizeLimitCheckbox, BM_SETCHECK, BST_CHECKED, 0);
    };
    std::vector<std::string> paths = {"C:\\pics\\c.png", "C:\\pics\\a.jpg", "D:\\b.gif", "C:\\pics\\folder"};
    Drop(paths);
    EXPECT_EQ(RecordedPaths(), paths);
    for (const RecordedConversion& call : recordedConversions) {
        EXPECT_EQ(call.settings.shakePercent, 20);
        EXPECT_FALSE(call.settings.limitEnabled);
        EXPECT_EQ(call.settings.sizeLimit, 400);
    }
    // The next drop reads the controls again.
    duringConversion = nullptr;
    recordedConversions.clear();
    Drop({"C:\\pics\\d.png"});
    ASSERT_EQ(recordedConversions.size(), 1u);
    EXPECT_EQ(recordedConversions[0].settings.shakePercent, 77);
    EXPECT_TRUE(recordedConversions[0].settings.limitEnabled);
    EXPECT_EQ(recordedConversions[0].settings.sizeLimit, 9);
}

// A path cut to 259 characters would name another file: the short one beside the long one.
TEST_F(PanelDropTest, LongPathsArriveWholeNeverCutToAnotherFilesName) {
    std::string folder = "C:\\in\\" + std::string(240, 'd') + "\\";
    std::string shortName = folder + "photo.png";
    std::string longName = shortName + std::string(40, 'x') + ".png";  // begins with shortName
    std::string veryLong = "C:\\" + std::string(1500, 'v') + ".jpg";
    ASSERT_GT(longName.size(), 259u);
    Drop({longName, shortName, veryLong});
    EXPECT_EQ(RecordedPaths(), (std::vector<std::string>{longName, shortName, veryLong}));
}

// Names a user can see, whatever the code page: in the ANSI code page of the run, and beyond it.
std::string LocalName() {
    if (GetACP() == 932) return "C:\\\xE5\x86\x99\xE7\x9C\x9F\\\xE3\x81\xAD\xE3\x81\x93.png";  // "C:\写真\ねこ.png"
    return "C:\\caf\xC3\xA9\\cat.png";                                                      // "C:\café\cat.png"
}
// "C:\in\日本語 über 😀.png": no ANSI code page holds all of it.
const std::string kBeyondAnyCodePage =
    "C:\\in\\\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xC3\xBC" "ber \xF0\x9F\x98\x80.png";

TEST_F(PanelDropTest, EachFailingFileShowsOneWarningBoxInDropOrderAndTheDropGoesOn) {
    MessageBoxCapture capture;
    const std::string first = "C:\\in\\broken.png";
    const std::string fine = "C:\\in\\fine.png";
    const std::string local = LocalName();
    const std::string unsaved = "C:\\in\\readonly.png";
    const std::string beyond = kBeyondAnyCodePage;
    failingPaths = {{first, 0}, {local, 3}, {unsaved, 7}, {beyond, 1}};
    Drop({first, fine, local, unsaved, beyond});
    EXPECT_EQ(panelEvents, (std::vector<std::string>{
                               "convert " + first, "box " + first, "convert " + fine,
                               "convert " + local, "box " + local, "convert " + unsaved,
                               "box " + unsaved, "convert " + beyond, "box " + beyond}));
    const std::pair<std::string, int> expected[] = {{first, 0}, {local, 3}, {unsaved, 7}, {beyond, 1}};
    ASSERT_EQ(capturedBoxes.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        char caption[kCaptionCapacity];
        FormatConversionErrorCaption(expected[i].second, caption);
        // The exact Shift_JIS caption, which reads as Japanese whatever the code page.
        EXPECT_EQ(WideToShiftJisBytes(capturedBoxes[i].caption), std::string(caption));
        // "このファイルは変換できませんでした(code:"
        EXPECT_EQ(capturedBoxes[i].caption.substr(0, 23),
                  L"\u3053\u306e\u30d5\u30a1\u30a4\u30eb\u306f\u5909\u63db\u3067\u304d\u307e"
                  L"\u305b\u3093\u3067\u3057\u305f(code:");
        EXPECT_EQ(capturedBoxes[i].text, Utf8ToWideString(expected[i].first));
        EXPECT_EQ(capturedBoxes[i].owner, panelWindow);
        EXPECT_TRUE(capturedBoxes[i].hasWarningIcon);
    }
    EXPECT_TRUE(IsWindow(panelWindow));
    EXPECT_TRUE(IsWindowEnabled(panelWindow));
}

// Programs that drop ANSI names still reach the conversion with the same names, as UTF-8.
TEST_F(PanelDropTest, AnsiDropsArriveAsTheSameNames) {
    const std::string local = LocalName();
    std::string ansi;
    const std::wstring wide = Utf8ToWideString(local);
    ansi.resize(wide.size() * 2 + 1);
    const int bytes = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &ansi[0], int(ansi.size()), nullptr, nullptr);
    ansi.resize(size_t(bytes > 0 ? bytes - 1 : 0));
    SendMessageA(panelWindow, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeAnsiDrop({ansi, "C:\\in\\a.png"})), 0);
    EXPECT_EQ(RecordedPaths(), (std::vector<std::string>{local, "C:\\in\\a.png"}));
}

}  // namespace

// wobzy-cli's meeting with Windows: command lines split, turned into UTF-8 and their wildcards
// expanded against real files; text written to a real console and to a pipe, read back.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/console.h"

namespace {

std::wstring Wide(const std::string& utf8) {
    std::wstring wide(utf8.size() + 1, L'\0');
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], int(wide.size()));
    wide.resize(size_t(units > 0 ? units - 1 : 0));
    return wide;
}

// "日本語.png" and "😀.png" beside plain ones; "a.pngx" ends in more than ".png".
const char* const kFiles[] = {
    "a.png", "ab.png", "B.png", "c.jpg", "a.pngx", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.png", "\xF0\x9F\x98\x80.png",
    "sub dir\\x y.png"};

// A fresh folder of files (and one folder whose name a pattern would match), removed afterwards.
class ArgumentsTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder_ = Wide(Utf8(temp)) + L"wobzy-arguments-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW((folder_ + L"\\dir.png").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW((folder_ + L"\\sub dir").c_str(), nullptr));
        for (const char* name : kFiles) Touch(folder_ + L"\\" + Wide(name));
        GetCurrentDirectoryW(MAX_PATH, previousDirectory_);
    }
    void TearDown() override {
        SetCurrentDirectoryW(previousDirectory_);
        for (const char* name : kFiles) DeleteFileW((folder_ + L"\\" + Wide(name)).c_str());
        RemoveDirectoryW((folder_ + L"\\dir.png").c_str());
        RemoveDirectoryW((folder_ + L"\\sub dir").c_str());
        RemoveDirectoryW(folder_.c_str());
    }
    static void Touch(const std::wstring& path) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
    }
    static std::string Utf8(const std::wstring& wide) {
        std::string bytes(wide.size() * 4 + 1, '\0');
        const int length = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &bytes[0], int(bytes.size()), nullptr, nullptr);
        bytes.resize(size_t(length > 0 ? length - 1 : 0));
        return bytes;
    }
    // The arguments of `commandLine`, with "%F" standing for the folder, as UTF-8 strings.
    std::vector<std::string> Arguments(const std::string& commandLine) {
        std::string line = commandLine;
        const std::string folder = Utf8(folder_);
        for (size_t at = line.find("%F"); at != std::string::npos; at = line.find("%F", at + folder.size()))
            line.replace(at, 2, folder);
        int count = -1;
        char** arguments = ArgumentsOfCommandLine(Wide(line).c_str(), &count);
        EXPECT_NE(arguments, nullptr);
        if (arguments == nullptr) return {};
        EXPECT_EQ(arguments[count], nullptr);
        std::vector<std::string> result;
        for (int i = 0; i < count; ++i) {
            std::string argument = arguments[i];
            for (size_t at = argument.find(folder); at != std::string::npos; at = argument.find(folder, at + 2))
                argument.replace(at, folder.size(), "%F");
            result.push_back(argument);
        }
        return result;
    }
    std::wstring folder_;
    wchar_t previousDirectory_[MAX_PATH] = {};
};

struct ExpansionCase {
    const char* name;
    std::string commandLine;
    std::vector<std::string> expected;
};

class ExpansionTest : public ArgumentsTest, public ::testing::WithParamInterface<ExpansionCase> {};

TEST_P(ExpansionTest, GivesTheExpectedArguments) {
    EXPECT_EQ(Arguments(GetParam().commandLine), GetParam().expected);
}

const std::string kJapanese = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.png";  // 日本語.png
const std::string kEmoji = "\xF0\x9F\x98\x80.png";                         // 😀.png

INSTANTIATE_TEST_SUITE_P(
    Patterns, ExpansionTest,
    ::testing::Values(
        // Files only (not the folder "dir.png"), sorted ignoring case, by UTF-16 code units.
        ExpansionCase{"StarMatchesTheFilesOfTheFolderSorted", "prog %F\\*.png",
                      {"prog", "%F\\a.png", "%F\\ab.png", "%F\\B.png", "%F\\" + kJapanese, "%F\\" + kEmoji}},
        // One character, a surrogate pair being one.
        ExpansionCase{"QuestionMarkIsOneCharacter", "prog %F\\?.png", {"prog", "%F\\a.png", "%F\\B.png", "%F\\" + kEmoji}},
        ExpansionCase{"CaseDoesNotMatter", "prog %F\\A*.PNG", {"prog", "%F\\a.png", "%F\\ab.png"}},
        ExpansionCase{"StarDotStarIsEveryFile", "prog %F\\*.*",
                      {"prog", "%F\\a.png", "%F\\a.pngx", "%F\\ab.png", "%F\\B.png", "%F\\c.jpg", "%F\\" + kJapanese,
                       "%F\\" + kEmoji}},
        // The folder part as written: forward slashes, a quoted folder with a space.
        ExpansionCase{"FolderPartKeptAsWritten", "prog %F/*.jpg \"%F\\sub dir\\*.png\"",
                      {"prog", "%F/c.jpg", "%F\\sub dir\\x y.png"}},
        // Reported as missing under the name given.
        ExpansionCase{"NoMatchStaysAsGiven", "prog %F\\*.gif %F\\nothing?.png", {"prog", "%F\\*.gif", "%F\\nothing?.png"}},
        // Options, names without wildcards and a wildcard in a folder part are left alone.
        ExpansionCase{"OnlyTheLastPartOfANonOptionExpands",
                      "prog --shake 5 -x*.png --frames=%F\\*.png %F\\" + kJapanese + " %F\\*\\a.png",
                      {"prog", "--shake", "5", "-x*.png", "--frames=%F\\*.png", "%F\\" + kJapanese, "%F\\*\\a.png"}}),
    [](const ::testing::TestParamInfo<ExpansionCase>& info) { return std::string(info.param.name); });

TEST_F(ArgumentsTest, RelativePatternsExpandInTheCurrentFolder) {
    ASSERT_TRUE(SetCurrentDirectoryW(folder_.c_str()));
    EXPECT_EQ(Arguments("prog *.jpg ?b.png"), (std::vector<std::string>{"prog", "c.jpg", "ab.png"}));
}

TEST(ConsoleOutputTest, APipeGetsTheUtf8BytesAsTheyAre) {
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
    const std::string text = "Z:\\" + kJapanese + " \xC3\xBC" "ber " + kEmoji + "\n";
    EXPECT_TRUE(WriteTextToHandle(writeEnd, text.data(), text.size()));
    CloseHandle(writeEnd);
    std::string read(text.size() + 16, '\0');
    DWORD count = 0;
    ReadFile(readEnd, &read[0], DWORD(read.size()), &count, nullptr);
    CloseHandle(readEnd);
    read.resize(count);
    EXPECT_EQ(read, text);
}

// A console of this process's own, whose screen is read back: the characters, not the bytes.
TEST(ConsoleOutputTest, AConsoleShowsTheCharactersTheTextEncodes) {
    FreeConsole();
    ASSERT_TRUE(AllocConsole());
    HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(console, INVALID_HANDLE_VALUE);
    CONSOLE_SCREEN_BUFFER_INFO screen = {};
    ASSERT_TRUE(GetConsoleScreenBufferInfo(console, &screen));
    const std::string text = "Z:\\" + kJapanese + " \xC3\xBC" "ber " + kEmoji + "\n";
    EXPECT_TRUE(WriteTextToHandle(console, text.data(), text.size()));
    const std::wstring expected = L"Z:\\\u65e5\u672c\u8a9e.png \u00fc" L"ber \U0001F600.png";
    std::wstring shown(expected.size() * 2, L'\0');
    DWORD read = 0;
    ASSERT_TRUE(ReadConsoleOutputCharacterW(console, &shown[0], DWORD(shown.size()), {0, screen.dwCursorPosition.Y}, &read));
    shown.resize(read);
    // A console may give a wide character a second cell; the characters are what count.
    std::wstring characters;
    for (size_t i = 0; i < shown.size(); ++i)
        if (i == 0 || shown[i] != shown[i - 1] || shown[i] == L'.') characters += shown[i];
    EXPECT_EQ(characters.substr(0, expected.size()), expected);
    CloseHandle(console);
    FreeConsole();
}

}  // namespace

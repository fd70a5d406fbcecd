// The resources of the built wobzy.exe and wobzy-cli.exe, read from the files: the icon group
// IDI_WOBZY in Japanese (two 16-colour masked images, a 32-bit one and a PNG one), the Japanese
// version information naming each program, the manifest, and no debug sections.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

// A program's path as Wine sees it: its Unix path on drive Z:.
std::string WindowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path) if (c == '/') c = '\\';
    return path;
}

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width, height, colourCount, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
struct IconGroupHeader {
    WORD reserved, type, count;
    IconGroupEntry entries[1];
};
#pragma pack(pop)

// One of the two executables, with the names its version information gives.
struct Program {
    const char* name;
    const char* unixPath;
    const char* description;
    const char* internalName;
    const char* originalFilename;
};

void PrintTo(const Program& program, std::ostream* out) { *out << program.name; }

const Program kPanelProgram = {"Panel", WOBZY_EXE_PATH, "Wobzy", "Wobzy", "wobzy.exe"};
const Program kCommandLineProgram = {"CommandLine", WOBZY_CLI_EXE_PATH, "Wobzy command line", "wobzy-cli",
                                     "wobzy-cli.exe"};

std::string ProgramPath(const Program& program) { return WindowsPath(program.unixPath); }

class ResourcesTest : public ::testing::TestWithParam<Program> {
protected:
    void SetUp() override {
        program_ = LoadLibraryExA(ProgramPath(GetParam()).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(program_, nullptr) << ProgramPath(GetParam());
    }
    void TearDown() override { FreeLibrary(program_); }
    const void* Resource(LPCSTR type, LPCSTR name) {
        HRSRC found = FindResourceExA(program_, type, name, kJapanese);
        return found ? LockResource(LoadResource(program_, found)) : nullptr;
    }
    HMODULE program_ = nullptr;
};

// Pixels of an icon drawn over magenta, rows from the top.
std::vector<COLORREF> DrawOverMagenta(HICON icon, int size) {
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, size, size);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    HBRUSH magenta = CreateSolidBrush(RGB(255, 0, 255));
    RECT all = {0, 0, size, size};
    FillRect(memory, &all, magenta);
    DrawIconEx(memory, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) pixels.push_back(GetPixel(memory, x, y));
    SelectObject(memory, previous);
    DeleteObject(magenta);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

int Brightness(COLORREF c) { return (GetRValue(c) + GetGValue(c) + GetBValue(c)) / 3; }

// The images of the icon group, in the order of the group. The 16-colour ones are drawn pixel by
// pixel and have always looked as they do; the larger ones have smoothed edges.
struct IconImage {
    int size;
    int colourCount;  // in the group entry; 0 for more than 256
    int bitCount;
    bool png;         // the image is a PNG file, as Windows stores 256-pixel icons
};
const IconImage kIconImages[] = {{32, 16, 4, false}, {16, 16, 4, false}, {48, 0, 32, false}, {256, 0, 32, true}};

TEST_P(ResourcesTest, IconGroupHolds16And32PixelImagesOf16ColoursAnd48And256PixelImagesInFullColour) {
    const auto* group = static_cast<const IconGroupHeader*>(Resource(RT_GROUP_ICON, "IDI_WOBZY"));
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(group->count, 4);
    for (int i = 0; i < 4; ++i) {
        const IconGroupEntry& entry = group->entries[i];
        const IconImage& expected = kIconImages[i];
        const int size = expected.size;
        SCOPED_TRACE(size);
        EXPECT_EQ(entry.width, size % 256);  // 0 stands for 256
        EXPECT_EQ(entry.height, size % 256);
        EXPECT_EQ(entry.colourCount, expected.colourCount);
        EXPECT_EQ(entry.bitCount, expected.bitCount);
        HRSRC found = FindResourceExA(program_, RT_ICON, MAKEINTRESOURCEA(entry.id), kJapanese);
        ASSERT_NE(found, nullptr);
        auto* image = static_cast<BYTE*>(LockResource(LoadResource(program_, found)));
        if (expected.png) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(image), 8), std::string("\x89PNG\r\n\x1a\n", 8));
        } else {
            const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(image);
            EXPECT_EQ(header->biBitCount, expected.bitCount);
            EXPECT_EQ(header->biHeight, 2 * size);  // colours and the transparency mask
        }
        HICON icon = CreateIconFromResourceEx(image, SizeofResource(program_, found), TRUE, 0x00030000,
                                              size, size, 0);
        ASSERT_NE(icon, nullptr);
        std::vector<COLORREF> pixels = DrawOverMagenta(icon, size);
        DestroyIcon(icon);
        auto at = [&](int x, int y) { return pixels[y * size + x]; };
        // Transparent in the corners off the bar; the bar runs from lower left to upper right.
        EXPECT_EQ(at(0, 0), RGB(255, 0, 255));
        EXPECT_EQ(at(size - 1, size - 1), RGB(255, 0, 255));
        int onBar[] = {size / 4, size / 2, size * 3 / 4};
        for (int t : onBar) EXPECT_NE(at(t, size - 1 - t), RGB(255, 0, 255)) << t;
        // Dark at the bar's edges, a lighter grey line along its middle (the larger images' edge
        // probe nearer the middle, the bar's half-width being 0.17 of the size).
        const int edge = size <= 32 ? size / 8 : size / 12;
        EXPECT_LT(Brightness(at(size / 2 - edge, size / 2 - edge)), 80);
        int lightest = 0;
        for (int d = -1; d <= 1; ++d) lightest = std::max(lightest, Brightness(at(size / 2 + d, size / 2 - 1)));
        EXPECT_GT(lightest, 120);
    }
}

std::string VersionString(const std::vector<char>& info, const char* name) {
    char* value = nullptr;
    UINT length = 0;
    std::string query = std::string("\\StringFileInfo\\041104b0\\") + name;
    if (!VerQueryValueA(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) return "<none>";
    return std::string(value);
}

TEST_P(ResourcesTest, VersionInformationIsJapaneseWithVersion1001AndTheProgramsNames) {
    std::string path = ProgramPath(GetParam());
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0411);
    EXPECT_EQ(translation[1], 0x04b0);
    EXPECT_EQ(VersionString(info, "FileDescription"), GetParam().description);
    EXPECT_EQ(VersionString(info, "InternalName"), GetParam().internalName);
    EXPECT_EQ(VersionString(info, "OriginalFilename"), GetParam().originalFilename);
    EXPECT_EQ(VersionString(info, "ProductName"), "Wobzy");
    EXPECT_EQ(VersionString(info, "FileVersion"), "1, 0, 0, 1");
    EXPECT_EQ(VersionString(info, "ProductVersion"), "1, 0, 0, 1");
    EXPECT_NE(Resource(RT_VERSION, MAKEINTRESOURCEA(1)), nullptr) << "version resource not in Japanese";
}

// The manifest Windows reads when it starts the program: resource 1 of type 24, language
// neutral. Its effects in a running process are checked in panel_dpi_test.cpp.
TEST_P(ResourcesTest, ManifestAsksForCommonControls6PerMonitorDpiLongPathsAndNamesTheSystems) {
    HRSRC found = FindResourceExA(program_, RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID,
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    ASSERT_NE(found, nullptr);
    const std::string manifest(static_cast<const char*>(LockResource(LoadResource(program_, found))),
                               SizeofResource(program_, found));
    const char* expected[] = {
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        "publicKeyToken=\"6595b64144ccf1df\"",
        "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
        ">true/pm</dpiAware>",
        ">PerMonitorV2, PerMonitor</dpiAwareness>",
        ">true</longPathAware>",
        "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  // Vista
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // 7
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10 and 11
    };
    for (const char* part : expected) EXPECT_NE(manifest.find(part), std::string::npos) << part;
    // Never the UTF-8 code page: the panel's Shift_JIS texts and a 932 system's names rely on the
    // system's own.
    EXPECT_EQ(manifest.find("activeCodePage"), std::string::npos);
}

// Release executables are stripped: no symbol table and no section of the debug information,
// whose long names the section table holds as "/N" references into the string table.
TEST_P(ResourcesTest, ExecutableCarriesNoSymbolsOrDebugSections) {
    std::ifstream file(ProgramPath(GetParam()), std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), sizeof(IMAGE_DOS_HEADER));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
    ASSERT_LT(size_t(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS32), bytes.size());
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(bytes.data() + dos->e_lfanew);
    EXPECT_EQ(nt->FileHeader.PointerToSymbolTable, 0u);
    EXPECT_EQ(nt->FileHeader.NumberOfSymbols, 0u);
    const auto* section = IMAGE_FIRST_SECTION(nt);
    for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        const std::string name(reinterpret_cast<const char*>(section->Name), strnlen(reinterpret_cast<const char*>(section->Name), 8));
        EXPECT_NE(name[0], '/') << name;
        EXPECT_NE(name.rfind(".debug", 0), 0u) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Executables, ResourcesTest, ::testing::Values(kPanelProgram, kCommandLineProgram),
                         [](const ::testing::TestParamInfo<Program>& info) { return std::string(info.param.name); });

}  // namespace

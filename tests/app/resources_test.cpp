// The resources of the built wobzy.exe, read from the file: the icon group IDI_WOBZY in Japanese
// with its two 16-colour masked images, and the Japanese version information.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

// The program's path as Wine sees it: its Unix path on drive Z:.
std::string ProgramPath() {
    std::string path = WOBZY_EXE_PATH;
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

class ResourcesTest : public ::testing::Test {
protected:
    void SetUp() override {
        program_ = LoadLibraryExA(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(program_, nullptr) << ProgramPath();
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

TEST_F(ResourcesTest, IconGroupHoldsA32And16PixelImageOf16ColoursWithMasks) {
    const auto* group = static_cast<const IconGroupHeader*>(Resource(RT_GROUP_ICON, "IDI_WOBZY"));
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(group->count, 2);
    for (int i = 0; i < 2; ++i) {
        const IconGroupEntry& entry = group->entries[i];
        const int size = i == 0 ? 32 : 16;
        SCOPED_TRACE(size);
        EXPECT_EQ(entry.width, size);
        EXPECT_EQ(entry.height, size);
        EXPECT_EQ(entry.colourCount, 16);
        EXPECT_EQ(entry.bitCount, 4);
        HRSRC found = FindResourceExA(program_, RT_ICON, MAKEINTRESOURCEA(entry.id), kJapanese);
        ASSERT_NE(found, nullptr);
        auto* image = static_cast<BYTE*>(LockResource(LoadResource(program_, found)));
        const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(image);
        EXPECT_EQ(header->biBitCount, 4);
        EXPECT_EQ(header->biHeight, 2 * size);  // colours and the transparency mask
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
        // Dark at the bar's edges, a lighter grey line along its middle.
        const int edge = size / 8;
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

TEST_F(ResourcesTest, VersionInformationIsJapaneseWithVersion1001AndTheProgramsName) {
    std::string path = ProgramPath();
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
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0411);
    EXPECT_EQ(translation[1], 0x04b0);
    EXPECT_EQ(VersionString(info, "FileDescription"), "Wobzy");
    EXPECT_EQ(VersionString(info, "InternalName"), "Wobzy");
    EXPECT_EQ(VersionString(info, "ProductName"), "Wobzy");
    EXPECT_EQ(VersionString(info, "FileVersion"), "1, 0, 0, 1");
    EXPECT_EQ(VersionString(info, "ProductVersion"), "1, 0, 0, 1");
    EXPECT_NE(Resource(RT_VERSION, MAKEINTRESOURCEA(1)), nullptr) << "version resource not in Japanese";
}

}  // namespace

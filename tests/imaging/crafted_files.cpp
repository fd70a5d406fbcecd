// Hostile and damaged files made by the tests themselves.
#include "tests/imaging/crafted_files.h"

#include <cstring>

#include "tests/imaging/test_support.h"

namespace testing_support {

namespace {

void PutText(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

Bytes ReadTestData(const std::string& relative) {
    Bytes bytes;
    return ReadFile(TestData(relative), &bytes) ? bytes : Bytes{};
}

// Where the n-th (1-based) start-of-scan marker stands, or 0.
size_t StartOfScan(const Bytes& jpeg, int n) {
    for (size_t i = 2; i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA && --n == 0) return i;
    }
    return 0;
}

// An ISO media box: its size, its type, then `contents`.
Bytes Box(const char* type, const Bytes& contents) {
    Bytes out;
    PutBe32(out, uint32_t(8 + contents.size()));
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), contents.begin(), contents.end());
    return out;
}

}  // namespace

void PutBe32(Bytes& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}
void PutLe(Bytes& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

void PutPngChunk(Bytes& out, const char* type, const Bytes& data) {
    PutBe32(out, uint32_t(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBe32(out, Crc32(&out[start], out.size() - start));
}

// A well-formed RGB PNG whose IHDR claims width x height, with one tiny valid IDAT.
Bytes PngClaiming(uint32_t width, uint32_t height) {
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    PutBe32(ihdr, width);
    PutBe32(ihdr, height);
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    PutPngChunk(out, "IHDR", ihdr);
    PutPngChunk(out, "IDAT", {0x78, 0x9c, 0x63, 0x60, 0x40, 0x05, 0x00, 0x00, 0x10, 0x00, 0x01});
    PutPngChunk(out, "IEND", {});
    return out;
}

Bytes SnakeJpegClaiming(uint16_t width, uint16_t height) {
    Bytes bytes;
    if (!ReadFile(TestData("snake/snake.jpg"), &bytes)) return {};
    for (size_t i = 2; i + 9 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {  // baseline frame header
            bytes[i + 5] = uint8_t(height >> 8);
            bytes[i + 6] = uint8_t(height);
            bytes[i + 7] = uint8_t(width >> 8);
            bytes[i + 8] = uint8_t(width);
            return bytes;
        }
    }
    return {};
}


Bytes PaddedGifOnScreen(uint16_t width, uint16_t height, size_t padding) {
    Bytes out;
    PutText(out, "GIF89a");
    PutLe(out, width, 2);
    PutLe(out, height, 2);
    out.insert(out.end(), {0x80, 0, 0, 0, 0, 0, 255, 255, 255});  // two-colour global table
    out.insert(out.end(), {0x21, 0xFE});                         // comment extension
    for (size_t left = padding; left > 0;) {
        const size_t block = left < 255 ? left : 255;
        out.push_back(uint8_t(block));
        out.insert(out.end(), block, 'x');
        left -= block;
    }
    out.push_back(0);
    out.push_back(0x2C);
    PutLe(out, 0, 4);
    PutLe(out, 1, 2);
    PutLe(out, 1, 2);
    // No local table; code size 2; clear, colour 0, end (3 bits each); trailer.
    out.insert(out.end(), {0, 2, 2, 0x44, 0x01, 0, 0x3B});
    return out;
}

Bytes SvgClaiming(uint32_t width, uint32_t height) {
    const std::string w = std::to_string(width), h = std::to_string(height);
    Bytes out;
    PutText(out, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + w + "\" height=\"" + h +
                     "\"><rect width=\"10\" height=\"10\" fill=\"red\"/></svg>\n");
    return out;
}

Bytes SlowSvg(int count) {
    Bytes out;
    PutText(out, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"2000\" height=\"2000\"><defs>"
                 "<filter id=\"b\" x=\"-1\" y=\"-1\" width=\"3\" height=\"3\">"
                 "<feGaussianBlur stdDeviation=\"300\"/></filter></defs>\n");
    for (int i = 0; i < count; ++i) {
        const std::string at = std::to_string(i * 4 % 1000);
        PutText(out, "<rect x=\"" + at + "\" y=\"" + at + "\" width=\"1000\" height=\"1000\" fill=\"#" +
                         std::to_string(100000 + i * 37 % 800000) + "\" filter=\"url(#b)\"/>\n");
    }
    PutText(out, "</svg>\n");
    return out;
}

Bytes HeifClaiming(uint32_t width, uint32_t height) {
    Bytes brand;
    PutText(brand, "heic");
    PutBe32(brand, 0);
    PutText(brand, "mif1heic");
    Bytes extent = {0, 0, 0, 0};  // version and flags
    PutBe32(extent, width);
    PutBe32(extent, height);
    Bytes meta = {0, 0, 0, 0};
    const Bytes properties = Box("iprp", Box("ipco", Box("ispe", extent)));
    meta.insert(meta.end(), properties.begin(), properties.end());
    Bytes out = Box("ftyp", brand);
    const Bytes metaBox = Box("meta", meta);
    out.insert(out.end(), metaBox.begin(), metaBox.end());
    return out;
}

Bytes JpegScanCut(const std::string& relative, double fraction) {
    Bytes bytes = ReadTestData(relative);
    const size_t scan = StartOfScan(bytes, 1);
    if (scan == 0) return {};
    const size_t data = scan + 2 + (size_t(bytes[scan + 2]) << 8 | bytes[scan + 3]);
    size_t cut = data + size_t(double(bytes.size() - 2 - data) * fraction);
    if (bytes[cut - 1] == 0xFF) --cut;  // not inside a stuffed byte
    bytes.resize(cut);
    bytes.insert(bytes.end(), {0xFF, 0xD9});
    return bytes;
}

Bytes JpegEndedAfterScans(const std::string& relative, int scans) {
    Bytes bytes = ReadTestData(relative);
    const size_t next = StartOfScan(bytes, scans + 1);
    if (next == 0) return {};
    bytes.resize(next);
    bytes.insert(bytes.end(), {0xFF, 0xD9});
    return bytes;
}

Bytes QuickTimeImage(const Bytes& picture) {
    Bytes description(78, 0);  // an image description; only its place matters here
    std::memcpy(&description[0], "jpeg", 4);
    Bytes out = Box("idsc", description);
    const Bytes data = Box("idat", picture);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes QuickTimeJpeg(const std::string& relative, double fraction) {
    Bytes jpeg = ReadTestData(relative);
    if (jpeg.empty()) return {};
    jpeg.resize(size_t(double(jpeg.size()) * fraction));
    return QuickTimeImage(jpeg);
}

Bytes CursorWithHotspotYZero() {
    Bytes bytes = ReadTestData("seed/horse.cur");
    if (bytes.size() < 22) return {};
    bytes[12] = 0;  // the first entry's hotspot y, where a TGA header holds its width
    bytes[13] = 0;
    return bytes;
}

}  // namespace testing_support

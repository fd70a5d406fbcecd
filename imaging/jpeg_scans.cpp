// The JPEG scan check: the frame, table and restart segments, a bit reader over the entropy-coded
// bytes, and the block walks of sequential and progressive scans. Where a stream is odd but not
// damaged, the walk follows libjpeg-turbo's reading of it (runs past the end of a block, bytes
// left after the last block, a coefficient redefined), so that what Linux loads passes here too.
#include "imaging/jpeg_scans.h"

#include <chrono>
#include <cstdlib>
#include <new>

#include "imaging/file_bytes.h"
#include "imaging/imaging.h"
#include "imaging/jpeg_markers.h"

namespace imaging::detail {

namespace {

constexpr int kFastBits = 10;              // codes this short are found with one table look-up
constexpr int kMaxFrameComponents = 255;  // what a frame header can count
constexpr int kMaxScanComponents = 4;
constexpr int kMaxBlocksInMcu = 10;
constexpr int kHuffmanSlots = 4;
constexpr size_t kBufferBytes = size_t(1) << 16;  // holds any segment's payload too
constexpr uint32_t kMcusBetweenClockReads = 4096;

// ---- Huffman tables --------------------------------------------------------------------------

// A fast sequential AC step: the bits of a code and its value together, how far along the block
// it moves, or the end of the block. 0: not in the table, decode the long way.
constexpr uint16_t kStepBitsMask = 31;
constexpr int kStepAdvanceShift = 5;
constexpr uint16_t kStepEndsBlock = 1 << 10;

struct HuffmanTable {
    bool defined = false;
    bool prefixCode = false;   // the counts leave room for every code, none of them all ones
    bool dcSizes = false;      // every symbol is at most 15, as a DC difference's size must be
    uint8_t symbols[256] = {};
    int32_t maxCode[17] = {};  // the largest code of each length, -1 when there is none
    int32_t symbolOffset[17] = {};
    uint16_t fast[1 << kFastBits] = {};      // length << 8 | symbol for codes of up to kFastBits
    uint16_t fastAcStep[1 << kFastBits] = {};
};

uint16_t FastAcStep(uint16_t entry) {
    const int length = entry >> 8;
    const int run = (entry >> 4) & 15;
    const int size = entry & 15;
    if (size == 0) return uint16_t(length | (run == 15 ? 16 << kStepAdvanceShift : kStepEndsBlock));
    if (length + size > kFastBits) return 0;
    return uint16_t((length + size) | (run + 1) << kStepAdvanceShift);
}

void FillFast(HuffmanTable* table, int32_t code, int length, uint8_t symbol) {
    const int shift = kFastBits - length;
    const uint16_t entry = uint16_t(length << 8 | symbol);
    for (int32_t i = code << shift; i < (code + 1) << shift; ++i) {
        table->fast[i] = entry;
        table->fastAcStep[i] = FastAcStep(entry);
    }
}

// Canonical codes from the counts per length. A table whose counts overflow a length stays
// unusable; libjpeg-turbo refuses it only when a scan uses it, and so does CheckScan.
void BuildTable(const uint8_t* counts, const uint8_t* symbols, size_t total, HuffmanTable* table) {
    *table = HuffmanTable{};
    table->defined = true;
    table->dcSizes = true;
    for (size_t i = 0; i < total; ++i) {
        table->symbols[i] = symbols[i];
        if (symbols[i] > 15) table->dcSizes = false;
    }
    int32_t code = 0;
    int32_t index = 0;
    for (int length = 1; length <= 16; ++length) {
        const int count = counts[length - 1];
        if (count > 0 && code + count >= int32_t(1) << length) return;
        table->symbolOffset[length] = index - code;
        for (int i = 0; i < count; ++i, ++code, ++index) {
            if (length <= kFastBits) FillFast(table, code, length, symbols[index]);
        }
        table->maxCode[length] = count > 0 ? code - 1 : -1;
        code <<= 1;
    }
    table->prefixCode = true;
}

// The tables of the standard's annex K, which libjpeg-turbo installs in slots 0 and 1 when a file
// has none there (Motion JPEG frames leave them out).
constexpr uint8_t kDcLuminanceCounts[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr uint8_t kDcChrominanceCounts[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
constexpr uint8_t kDcSymbols[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr uint8_t kAcLuminanceCounts[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7D};
constexpr uint8_t kAcLuminanceSymbols[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
    0x14, 0x32, 0x81, 0x91, 0xA1, 0x08, 0x23, 0x42, 0xB1, 0xC1, 0x15, 0x52, 0xD1, 0xF0, 0x24, 0x33, 0x62, 0x72,
    0x82, 0x09, 0x0A, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x34, 0x35, 0x36, 0x37,
    0x38, 0x39, 0x3A, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
    0x5A, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0xA2, 0xA3,
    0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xC2, 0xC3,
    0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xE1, 0xE2,
    0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA};
constexpr uint8_t kAcChrominanceCounts[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
constexpr uint8_t kAcChrominanceSymbols[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22,
    0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xA1, 0xB1, 0xC1, 0x09, 0x23, 0x33, 0x52, 0xF0, 0x15, 0x62, 0x72, 0xD1,
    0x0A, 0x16, 0x24, 0x34, 0xE1, 0x25, 0xF1, 0x17, 0x18, 0x19, 0x1A, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x35, 0x36,
    0x37, 0x38, 0x39, 0x3A, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
    0x59, 0x5A, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A,
    0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA,
    0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA,
    0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA};

// ---- Reading entropy-coded bits ----------------------------------------------------------------

// The bytes of one scan, read from the file in chunks with stuffed zeros removed, up to the marker
// that ends its data (or a restart interval's).
struct ByteSource {
    std::FILE* file = nullptr;
    uint8_t* bytes = nullptr;  // kBufferBytes
    size_t at = 0;
    size_t end = 0;
    uint64_t chunkStart = 0;   // the file offset of bytes[0]
    bool ended = false;        // the data stopped at a marker or at the file's end
    int marker = -1;           // that marker's code; -1 at the file's end
    uint64_t markerAt = 0;     // the file offset of the 0xFF just before it
};

// Bits not yet decoded, the next one highest. `count` of them are data; it falls below 0 once
// bits past the end of the data were taken, which read as zeros, as a decoder pads them. A local
// of the scan's walk, which the compiler keeps in registers.
struct BitWindow {
    uint64_t bits = 0;
    int count = 0;
};

void StartSource(ByteSource* source, std::FILE* file, uint64_t offset) {
    uint8_t* bytes = source->bytes;
    *source = ByteSource{};
    source->file = file;
    source->bytes = bytes;
    source->chunkStart = offset;
}

int NextFileByte(ByteSource* s) {
    if (s->at == s->end) {
        s->chunkStart += s->end;
        s->at = 0;
        s->end = std::fread(s->bytes, 1, kBufferBytes, s->file);
        if (s->end == 0) return -1;
    }
    return s->bytes[s->at++];
}

uint64_t ReadOffset(const ByteSource& s) { return s.chunkStart + s.at; }

void EndData(ByteSource* s, int marker, uint64_t markerAt) {
    s->ended = true;
    s->marker = marker;
    s->markerAt = markerAt;
}

// The next data byte, or -1 when the data ends. Fill bytes (0xFF) before a marker are skipped, and
// 0xFF 0xFF ... 0x00 reads as one 0xFF, as libjpeg-turbo reads it.
int NextDataByte(ByteSource* s) {
    int byte = NextFileByte(s);
    if (byte != 0xFF) {
        if (byte < 0) EndData(s, -1, 0);
        return byte;
    }
    uint64_t lastFill = ReadOffset(*s) - 1;
    while ((byte = NextFileByte(s)) == 0xFF) lastFill = ReadOffset(*s) - 1;
    if (byte == 0) return 0xFF;
    EndData(s, byte, lastFill);
    return -1;
}

BitWindow Fill(ByteSource* s, BitWindow w) {
    while (w.count <= 56 && !s->ended) {
        int byte;
        if (s->at < s->end && s->bytes[s->at] != 0xFF) {
            byte = s->bytes[s->at++];
        } else if ((byte = NextDataByte(s)) < 0) {
            break;
        }
        w.bits |= uint64_t(byte) << (56 - w.count);
        w.count += 8;
    }
    return w;
}

// At least 32 bits stand ready after this, data or padding: a code and its value bits.
inline void Refill(ByteSource* s, BitWindow* w) {
    if (w->count < 32) *w = Fill(s, *w);
}

inline uint32_t Peek(const BitWindow& w, int bits) { return uint32_t(w.bits >> (64 - bits)); }

inline void Take(BitWindow* w, int bits) {
    w->bits <<= bits;
    w->count -= bits;
}

// Any number of bits, refilling as it goes: the correction bits of a refinement.
inline void TakeMany(ByteSource* s, BitWindow* w, int bits) {
    for (;;) {
        Refill(s, w);
        if (bits <= 32) {
            Take(w, bits);
            return;
        }
        Take(w, 32);
        bits -= 32;
    }
}

int DecodeLongCode(BitWindow* w, const HuffmanTable& table) {
    const uint32_t next = Peek(*w, 16);
    for (int length = kFastBits + 1; length <= 16; ++length) {
        const int32_t code = int32_t(next >> (16 - length));
        if (code <= table.maxCode[length]) {
            Take(w, length);
            return table.symbols[(code + table.symbolOffset[length]) & 0xFF];
        }
    }
    return -1;
}

// The next symbol, or -1 for bits that begin no code within 16 bits. Needs 16 bits ready.
inline int DecodeSymbol(BitWindow* w, const HuffmanTable& table) {
    const uint16_t entry = table.fast[Peek(*w, kFastBits)];
    if (entry == 0) return DecodeLongCode(w, table);
    Take(w, entry >> 8);
    return entry & 0xFF;
}

// Skips the bits up to the marker that ends the data; returns how many whole bytes that was.
uint64_t DrainToMarker(ByteSource* s, BitWindow* w) {
    uint64_t unused = w->count > 0 ? uint64_t(w->count / 8) : 0;
    *w = BitWindow{};
    while (!s->ended) {
        if (NextDataByte(s) >= 0) ++unused;
    }
    return unused;
}

// ---- The frame, its components and the scans ---------------------------------------------------

struct Component {
    int id = 0;
    int h = 1, v = 1;             // sampling factors
    uint32_t blocksWide = 0;      // of the component alone, as a scan of it by itself walks them
    uint32_t blocksHigh = 0;
    bool scanned = false;         // sequential: a scan held it
    int8_t sentBits[64] = {};     // progressive: -1 never sent, else the Al of its last scan
    uint64_t* nonzero = nullptr;  // progressive: per block, bit k once zigzag coefficient k is nonzero
};

struct Frame {
    bool present = false;
    bool progressive = false;
    int scansStarted = 0;
    bool oneScanHoldsAll = false;  // sequential, the first scan held every component: no other may follow
    uint32_t width = 0, height = 0;
    int componentCount = 0;
    int hMax = 1, vMax = 1;
    Component components[kMaxFrameComponents];
    uint64_t* history = nullptr;   // every component's nonzero bits in one allocation
};

struct Scan {
    int componentCount = 0;
    Component* components[kMaxScanComponents] = {};
    int dcSlot[kMaxScanComponents] = {};
    int acSlot[kMaxScanComponents] = {};
    int start = 0, end = 0;  // the band of zigzag coefficients, Ss to Se
    int high = 0, low = 0;   // successive approximation: Ah, Al
};

struct Checker {
    std::FILE* file = nullptr;
    uint64_t fileBytes = 0;
    Frame frame;
    HuffmanTable dcTables[kHuffmanSlots];
    HuffmanTable acTables[kHuffmanSlots];
    uint32_t restartInterval = 0;
    ByteSource source;
    uint8_t bytes[kBufferBytes];  // the source's chunks, or a segment's payload between scans
    std::chrono::steady_clock::time_point deadline;
    JpegScanReport report;
};

// Ends the walk with `verdict`; false, so that callers can return it.
bool Stop(Checker* c, JpegScanVerdict verdict) {
    c->report.verdict = verdict;
    return false;
}

bool ReadPayload(Checker* c, const JpegSegment& segment) {
    return segment.payloadBytes <= kBufferBytes && ReadBytes(c->file, c->bytes, segment.payloadBytes);
}

uint32_t DivideRoundingUp(uint64_t value, uint64_t divisor) { return uint32_t((value + divisor - 1) / divisor); }

void InstallStandardTables(Checker* c) {
    BuildTable(kDcLuminanceCounts, kDcSymbols, 12, &c->dcTables[0]);
    BuildTable(kDcChrominanceCounts, kDcSymbols, 12, &c->dcTables[1]);
    BuildTable(kAcLuminanceCounts, kAcLuminanceSymbols, 162, &c->acTables[0]);
    BuildTable(kAcChrominanceCounts, kAcChrominanceSymbols, 162, &c->acTables[1]);
}

// DHT: any number of tables; counts beyond the payload or a slot beyond 3 is damage.
bool ReadTables(Checker* c, const JpegSegment& segment) {
    if (!ReadPayload(c, segment)) return Stop(c, JpegScanVerdict::kDamaged);
    const size_t size = segment.payloadBytes;
    size_t at = 0;
    while (size - at > 16) {
        const int index = c->bytes[at];
        const uint8_t* counts = c->bytes + at + 1;
        size_t total = 0;
        for (int i = 0; i < 16; ++i) total += counts[i];
        const bool ac = (index & 0x10) != 0;
        const int slot = ac ? index - 0x10 : index;
        if (total > 256 || total > size - at - 17 || slot >= kHuffmanSlots) return Stop(c, JpegScanVerdict::kDamaged);
        BuildTable(counts, counts + 16, total, ac ? &c->acTables[slot] : &c->dcTables[slot]);
        at += 17 + total;
    }
    return at == size || Stop(c, JpegScanVerdict::kDamaged);
}

bool ReadRestartInterval(Checker* c, const JpegSegment& segment) {
    if (segment.payloadBytes != 2 || !ReadPayload(c, segment)) return Stop(c, JpegScanVerdict::kDamaged);
    c->restartInterval = BigEndian16(c->bytes);
    return true;
}

// A bit per coefficient of every block, for the refinement scans to tell which coefficients
// already hold a value: within the memory limit, or the check cannot be made.
bool TakeHistory(Checker* c) {
    Frame& frame = c->frame;
    uint64_t blocks = 0;  // below 255 * 2^26
    for (int i = 0; i < frame.componentCount; ++i) {
        blocks += uint64_t(frame.components[i].blocksWide) * frame.components[i].blocksHigh;
    }
    const uint64_t bytes = blocks * sizeof(uint64_t);
    if (bytes > CurrentLimits().memoryBytes || bytes > SIZE_MAX) return Stop(c, JpegScanVerdict::kOutOfMemory);
    frame.history = static_cast<uint64_t*>(std::calloc(size_t(blocks), sizeof(uint64_t)));
    if (frame.history == nullptr) return Stop(c, JpegScanVerdict::kOutOfMemory);
    uint64_t* next = frame.history;
    for (int i = 0; i < frame.componentCount; ++i) {
        Component& component = frame.components[i];
        component.nonzero = next;
        next += uint64_t(component.blocksWide) * component.blocksHigh;
        for (int8_t& bits : component.sentBits) bits = -1;
    }
    return true;
}

bool ReadComponents(Checker* c, const uint8_t* fields) {
    Frame& frame = c->frame;
    for (int i = 0; i < frame.componentCount; ++i) {
        Component& component = frame.components[i];
        component.id = fields[3 * i];
        component.h = fields[3 * i + 1] >> 4;
        component.v = fields[3 * i + 1] & 15;
        if (component.h < 1 || component.h > 4 || component.v < 1 || component.v > 4) return Stop(c, JpegScanVerdict::kDamaged);
        for (int j = 0; j < i; ++j) {
            // libjpeg-turbo renames a repeated identifier; which scan then means which component is its guess.
            if (frame.components[j].id == component.id) return Stop(c, JpegScanVerdict::kUnchecked);
        }
        if (component.h > frame.hMax) frame.hMax = component.h;
        if (component.v > frame.vMax) frame.vMax = component.v;
    }
    for (int i = 0; i < frame.componentCount; ++i) {
        Component& component = frame.components[i];
        component.blocksWide = DivideRoundingUp(uint64_t(frame.width) * component.h, 8 * frame.hMax);
        component.blocksHigh = DivideRoundingUp(uint64_t(frame.height) * component.v, 8 * frame.vMax);
    }
    return true;
}

// SOF0, SOF1 and SOF2 with 8-bit samples; other precisions go to the decoder, and so does a frame
// whose height a DNL segment gives after the first scan.
bool ReadFrame(Checker* c, const JpegSegment& segment) {
    Frame& frame = c->frame;
    if (frame.present || segment.payloadBytes < 6 || !ReadPayload(c, segment)) return Stop(c, JpegScanVerdict::kDamaged);
    const uint8_t* p = c->bytes;
    if (p[0] != 8 || BigEndian16(p + 1) == 0) return Stop(c, JpegScanVerdict::kUnchecked);
    frame.present = true;
    frame.progressive = segment.marker == 0xC2;
    frame.height = BigEndian16(p + 1);
    frame.width = BigEndian16(p + 3);
    frame.componentCount = p[5];
    if (frame.width == 0 || frame.componentCount == 0 || segment.payloadBytes != 6 + 3u * frame.componentCount) {
        return Stop(c, JpegScanVerdict::kDamaged);
    }
    return ReadComponents(c, p + 6) && (!frame.progressive || TakeHistory(c));
}

Component* FindComponent(Frame* frame, int id) {
    for (int i = 0; i < frame->componentCount; ++i) {
        if (frame->components[i].id == id) return &frame->components[i];
    }
    return nullptr;
}

// SOS: its components (each once, each of the frame) with their table slots, band and bit
// positions.
bool ReadScanHeader(Checker* c, const JpegSegment& segment, Scan* scan) {
    if (!c->frame.present || segment.payloadBytes < 6 || !ReadPayload(c, segment)) return Stop(c, JpegScanVerdict::kDamaged);
    const uint8_t* p = c->bytes;
    const int count = p[0];
    if (count < 1 || count > kMaxScanComponents || segment.payloadBytes != 4 + 2u * count) {
        return Stop(c, JpegScanVerdict::kDamaged);
    }
    scan->componentCount = count;
    for (int i = 0; i < count; ++i) {
        Component* component = FindComponent(&c->frame, p[1 + 2 * i]);
        if (component == nullptr) return Stop(c, JpegScanVerdict::kDamaged);
        for (int j = 0; j < i; ++j) {
            if (scan->components[j] == component) return Stop(c, JpegScanVerdict::kUnchecked);  // renamed, as in a frame
        }
        scan->components[i] = component;
        scan->dcSlot[i] = p[2 + 2 * i] >> 4;
        scan->acSlot[i] = p[2 + 2 * i] & 15;
    }
    const uint8_t* band = p + 1 + 2 * count;
    scan->start = band[0];
    scan->end = band[1];
    scan->high = band[2] >> 4;
    scan->low = band[2] & 15;
    return true;
}

bool TableUsable(const HuffmanTable* tables, int slot, bool dc) {
    if (slot >= kHuffmanSlots) return false;
    const HuffmanTable& table = tables[slot];
    return table.defined && table.prefixCode && (!dc || table.dcSizes);
}

// The tables a scan decodes with, as libjpeg-turbo requires them: DC tables for sequential and
// first DC scans, AC tables for sequential and every AC scan.
bool ScanTablesUsable(const Checker& c, const Scan& scan) {
    const bool sequential = !c.frame.progressive;
    const bool needsDc = sequential || (scan.start == 0 && scan.high == 0);
    const bool needsAc = sequential || scan.start > 0;
    for (int i = 0; i < scan.componentCount; ++i) {
        if (needsDc && !TableUsable(c.dcTables, scan.dcSlot[i], true)) return false;
        if (needsAc && !TableUsable(c.acTables, scan.acSlot[i], false)) return false;
    }
    return true;
}

// What libjpeg-turbo refuses outright in a progressive scan: a DC band beyond coefficient 0, an
// AC band out of order or of several components, a refinement not one bit below the last.
bool ProgressiveScanValid(const Scan& scan) {
    const bool bandValid = scan.start == 0 ? scan.end == 0 : scan.start <= scan.end && scan.end <= 63 && scan.componentCount == 1;
    const bool bitsValid = (scan.high == 0 || scan.low == scan.high - 1) && scan.low <= 13;
    return bandValid && bitsValid;
}

// libjpeg-turbo warns, and so fails the load on Linux, when an AC band comes before its
// component's DC or a scan does not take a coefficient on from the bit where the last one left it.
bool RecordProgression(const Scan& scan) {
    for (int i = 0; i < scan.componentCount; ++i) {
        int8_t* sent = scan.components[i]->sentBits;
        if (scan.start > 0 && sent[0] < 0) return false;
        for (int k = scan.start; k <= scan.end; ++k) {
            if (scan.high != (sent[k] < 0 ? 0 : sent[k])) return false;
            sent[k] = int8_t(scan.low);
        }
    }
    return true;
}

// A sequential scan sends whole coefficients (libjpeg-turbo warns at other band values); once a
// first scan held every component, the decoder expects no other.
bool RecordSequentialScan(Frame* frame, const Scan& scan) {
    if (scan.start != 0 || scan.end != 63 || scan.high != 0 || scan.low != 0) return false;
    if (frame->oneScanHoldsAll) return false;
    for (int i = 0; i < scan.componentCount; ++i) scan.components[i]->scanned = true;
    frame->oneScanHoldsAll = frame->scansStarted == 0 && scan.componentCount == frame->componentCount;
    return true;
}

int BlocksInMcu(const Scan& scan) {
    if (scan.componentCount == 1) return 1;
    int blocks = 0;
    for (int i = 0; i < scan.componentCount; ++i) blocks += scan.components[i]->h * scan.components[i]->v;
    return blocks;
}

// ---- Walking the blocks -------------------------------------------------------------------------

struct McuBlock {
    const HuffmanTable* dc;
    const HuffmanTable* ac;
};

// The blocks of one MCU in the order the data holds them, each with its component's tables.
int ListMcuBlocks(const Checker& c, const Scan& scan, McuBlock* blocks) {
    int count = 0;
    for (int i = 0; i < scan.componentCount; ++i) {
        const Component& component = *scan.components[i];
        const int perComponent = scan.componentCount == 1 ? 1 : component.h * component.v;
        // A slot the scan does not decode with may hold any value; it is only kept in range.
        const McuBlock block{&c.dcTables[scan.dcSlot[i] % kHuffmanSlots], &c.acTables[scan.acSlot[i] % kHuffmanSlots]};
        for (int b = 0; b < perComponent; ++b) blocks[count++] = block;
    }
    return count;
}

uint32_t McuCount(const Frame& frame, const Scan& scan) {
    if (scan.componentCount == 1) return scan.components[0]->blocksWide * scan.components[0]->blocksHigh;
    return DivideRoundingUp(frame.width, 8 * frame.hMax) * DivideRoundingUp(frame.height, 8 * frame.vMax);
}

inline bool DcDifference(ByteSource* s, BitWindow* w, const HuffmanTable& dc) {
    Refill(s, w);
    const int size = DecodeSymbol(w, dc);
    if (size < 0) return false;
    Take(w, size);  // at most 15: the table was checked
    return true;
}

// A sequential block: the DC difference, then AC codes up to the end of the block or past its
// last coefficient (a run beyond it ends the block, as libjpeg-turbo reads it).
inline bool SequentialBlock(ByteSource* s, BitWindow* w, const McuBlock& block) {
    if (!DcDifference(s, w, *block.dc)) return false;
    const HuffmanTable& ac = *block.ac;
    for (int k = 1; k < 64;) {
        Refill(s, w);
        const uint16_t step = ac.fastAcStep[Peek(*w, kFastBits)];
        if (step != 0) {
            Take(w, step & kStepBitsMask);
            if (step & kStepEndsBlock) break;
            k += step >> kStepAdvanceShift;
            continue;
        }
        const int symbol = DecodeSymbol(w, ac);
        if (symbol < 0) return false;
        const int run = symbol >> 4;
        const int size = symbol & 15;
        if (size == 0 && run != 15) break;
        Take(w, size);
        k += run + 1;
    }
    return true;
}

uint64_t CoefficientBit(int k) { return uint64_t(1) << (k < 63 ? k : 63); }

// Zigzag coefficients k to end, inclusive; none when k is past the end.
uint64_t BandMask(int k, int end) {
    if (k > end) return 0;
    const uint64_t upTo = end == 63 ? ~uint64_t(0) : (uint64_t(1) << (end + 1)) - 1;
    return upTo & ~((uint64_t(1) << k) - 1);
}

// An EOB run: 2^r blocks, plus r more bits of count.
uint32_t ReadEndOfBandRun(BitWindow* w, int run) {
    uint32_t blocks = uint32_t(1) << run;
    if (run > 0) {
        blocks += Peek(*w, run);
        Take(w, run);
    }
    return blocks;
}

// Whether a first-scan value, shifted up to its bit position, still reads as nonzero in the
// decoder's 16-bit coefficient (a hostile size and shift can wrap it to 0).
bool StaysNonzero(uint32_t bits, int size, int low) {
    const int32_t value = bits < (uint32_t(1) << (size - 1)) ? int32_t(bits) - (int32_t(1) << size) + 1 : int32_t(bits);
    return ((uint32_t(value) << low) & 0xFFFF) != 0;
}

// What an AC scan carries from block to block: the blocks still to come in the current EOB run.
struct BandState {
    uint32_t endOfBandRun = 0;
};

bool FirstAcBlock(ByteSource* s, BitWindow* w, const HuffmanTable& ac, const Scan& scan, uint64_t* nonzero,
                  BandState* state) {
    if (state->endOfBandRun > 0) {
        --state->endOfBandRun;
        return true;
    }
    for (int k = scan.start; k <= scan.end; ++k) {
        Refill(s, w);
        const int symbol = DecodeSymbol(w, ac);
        if (symbol < 0) return false;
        const int run = symbol >> 4;
        const int size = symbol & 15;
        if (size != 0) {
            k += run;
            const uint32_t bits = Peek(*w, size);
            Take(w, size);
            if (StaysNonzero(bits, size, scan.low)) *nonzero |= CoefficientBit(k);
        } else if (run == 15) {
            k += 15;
        } else {
            state->endOfBandRun = ReadEndOfBandRun(w, run) - 1;
            break;
        }
    }
    return true;
}

// Bits set in `bits`, without a library call on processors where the compiler may not use an
// instruction for it.
int CountBits(uint64_t bits) {
    bits -= (bits >> 1) & 0x5555555555555555u;
    bits = (bits & 0x3333333333333333u) + ((bits >> 2) & 0x3333333333333333u);
    bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return int((bits * 0x0101010101010101u) >> 56);
}

// The position of the lowest bit set in `bits`, which is not 0.
int LowestBitSet(uint64_t bits) {
#if defined(__GNUC__)
    return __builtin_ctzll(bits);
#else
    return CountBits((bits & (~bits + 1)) - 1);
#endif
}

// Moves k over coefficients that already hold a value (each takes a correction bit) and `run`
// zero ones, to the zero coefficient that becomes nonzero (or past the band's end); returns
// the correction bits passed.
int PassToZeroCoefficient(uint64_t nonzero, int end, int run, int* k) {
    const uint64_t band = BandMask(*k, end);
    uint64_t zeros = ~nonzero & band;
    for (int i = 0; i < run && zeros != 0; ++i) zeros &= zeros - 1;
    if (zeros == 0) {
        *k = end + 1;
        return CountBits(nonzero & band);
    }
    // Before the target lie exactly `run` zero coefficients; all the others passed are nonzero.
    const int target = LowestBitSet(zeros);
    const int corrections = target - *k - run;
    *k = target;
    return corrections;
}

// A refinement block: new ±1 coefficients with their sign bits, and a correction bit for every
// coefficient already nonzero that the codes pass over or the EOB run covers.
bool RefineAcBlock(ByteSource* s, BitWindow* w, const HuffmanTable& ac, const Scan& scan, uint64_t* nonzero,
                   BandState* state) {
    int k = scan.start;
    for (; state->endOfBandRun == 0 && k <= scan.end; ++k) {
        Refill(s, w);
        const int symbol = DecodeSymbol(w, ac);
        if (symbol < 0 || (symbol & 15) > 1) return false;  // libjpeg-turbo warns at a size above 1
        const int run = symbol >> 4;
        const bool newValue = (symbol & 15) == 1;
        if (newValue) {
            Take(w, 1);  // its sign
        } else if (run != 15) {
            state->endOfBandRun = ReadEndOfBandRun(w, run);
            break;
        }
        TakeMany(s, w, PassToZeroCoefficient(*nonzero, scan.end, run, &k));
        if (newValue) *nonzero |= CoefficientBit(k);
    }
    if (state->endOfBandRun > 0) {
        TakeMany(s, w, CountBits(*nonzero & BandMask(k, scan.end)));
        --state->endOfBandRun;
    }
    return true;
}

// Passes the restart marker due after an interval. The bits left in its last byte are padding;
// bytes up to the marker are skipped (libjpeg-turbo calls them extraneous, which fails nothing).
bool PassRestartMarker(Checker* c, BitWindow* window, int number) {
    c->report.unusedBytes += DrainToMarker(&c->source, window);
    if (c->source.marker != 0xD0 + number) return false;
    c->source.ended = false;
    return true;
}

// Walks `mcus` MCUs through `decode(mcu index, window, band state)`, with the restart markers
// between intervals, stopping at the first damage; then leaves the file at the marker after the
// scan.
template <typename DecodeMcu>
bool WalkMcus(Checker* c, uint32_t mcus, DecodeMcu decode) {
    const uint32_t interval = c->restartInterval;
    uint32_t left = interval;
    int nextRestart = 0;
    BandState state;
    BitWindow window;
    for (uint32_t mcu = 0; mcu < mcus; ++mcu) {
        if (interval != 0 && left-- == 0) {
            if (!PassRestartMarker(c, &window, nextRestart)) return Stop(c, JpegScanVerdict::kDamaged);
            nextRestart = (nextRestart + 1) & 7;
            left = interval - 1;
            state = BandState{};
        }
        if (!decode(mcu, &window, &state) || window.count < 0) return Stop(c, JpegScanVerdict::kDamaged);
        if (mcu % kMcusBetweenClockReads == kMcusBetweenClockReads - 1 && std::chrono::steady_clock::now() > c->deadline) {
            return Stop(c, JpegScanVerdict::kTimedOut);
        }
    }
    c->report.unusedBytes += DrainToMarker(&c->source, &window);
    if (c->source.marker < 0 || !SeekTo(c->file, c->source.markerAt)) return Stop(c, JpegScanVerdict::kDamaged);
    ++c->report.scans;
    return true;
}

bool WalkSequentialScan(Checker* c, const Scan& scan) {
    McuBlock blocks[kMaxBlocksInMcu];
    const int count = ListMcuBlocks(*c, scan, blocks);
    ByteSource* source = &c->source;
    return WalkMcus(c, McuCount(c->frame, scan), [&](uint32_t, BitWindow* w, BandState*) {
        for (int b = 0; b < count; ++b) {
            if (!SequentialBlock(source, w, blocks[b])) return false;
        }
        return true;
    });
}

bool WalkDcScan(Checker* c, const Scan& scan) {
    McuBlock blocks[kMaxBlocksInMcu];
    const int count = ListMcuBlocks(*c, scan, blocks);
    ByteSource* source = &c->source;
    const bool refining = scan.high != 0;
    return WalkMcus(c, McuCount(c->frame, scan), [&](uint32_t, BitWindow* w, BandState*) {
        for (int b = 0; b < count; ++b) {
            if (refining) {
                Refill(source, w);
                Take(w, 1);
            } else if (!DcDifference(source, w, *blocks[b].dc)) {
                return false;
            }
        }
        return true;
    });
}

bool WalkAcScan(Checker* c, const Scan& scan) {
    const HuffmanTable& ac = c->acTables[scan.acSlot[0]];
    uint64_t* nonzero = scan.components[0]->nonzero;
    ByteSource* source = &c->source;
    if (scan.high == 0) {
        return WalkMcus(c, McuCount(c->frame, scan), [&](uint32_t block, BitWindow* w, BandState* state) {
            return FirstAcBlock(source, w, ac, scan, &nonzero[block], state);
        });
    }
    return WalkMcus(c, McuCount(c->frame, scan), [&](uint32_t block, BitWindow* w, BandState* state) {
        return RefineAcBlock(source, w, ac, scan, &nonzero[block], state);
    });
}

// A scan from its header to the marker after its data.
bool CheckScan(Checker* c, const JpegSegment& segment) {
    Scan scan;
    if (!ReadScanHeader(c, segment, &scan)) return false;
    Frame& frame = c->frame;
    const bool valid = BlocksInMcu(scan) <= kMaxBlocksInMcu && ScanTablesUsable(*c, scan) &&
                       (frame.progressive ? ProgressiveScanValid(scan) && RecordProgression(scan)
                                          : RecordSequentialScan(&frame, scan));
    if (!valid) return Stop(c, JpegScanVerdict::kDamaged);
    ++frame.scansStarted;
    const int64_t dataStart = FilePosition(c->file);
    if (dataStart < 0) return Stop(c, JpegScanVerdict::kDamaged);
    StartSource(&c->source, c->file, uint64_t(dataStart));
    if (!frame.progressive) return WalkSequentialScan(c, scan);
    return scan.start == 0 ? WalkDcScan(c, scan) : WalkAcScan(c, scan);
}

// At the end of the image: every component in a scan, every coefficient sent to its last bit.
bool ComponentComplete(const Frame& frame, const Component& component) {
    if (!frame.progressive) return component.scanned;
    for (int8_t bits : component.sentBits) {
        if (bits != 0) return false;
    }
    return true;
}

JpegScanVerdict FinalVerdict(const Frame& frame) {
    if (!frame.present) return JpegScanVerdict::kDamaged;
    for (int i = 0; i < frame.componentCount; ++i) {
        if (!ComponentComplete(frame, frame.components[i])) return JpegScanVerdict::kDamaged;
    }
    return JpegScanVerdict::kWhole;
}

bool IsRestartMarker(int marker) { return marker >= 0xD0 && marker <= 0xD7; }

// Segments that say nothing about the entropy-coded data: quantisation tables, applications'
// data, comments, a DNL segment whose height the frame already gave.
bool SkippedSegment(int marker) { return marker == 0xDB || marker == 0xDC || marker == 0xFE || (marker >= 0xE0 && marker <= 0xEF); }

// One segment of the walk; false once the verdict is known.
bool OnSegment(Checker* c, const JpegSegment& segment) {
    const int marker = segment.marker;
    if (marker == kJpegEndOfImage) return Stop(c, FinalVerdict(c->frame));
    if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) return ReadFrame(c, segment);
    if (marker == 0xC4) return ReadTables(c, segment);
    if (marker == 0xDD) return ReadRestartInterval(c, segment);
    if (marker == kJpegStartOfScan) return CheckScan(c, segment);
    if (IsRestartMarker(marker) || marker == 0x01) return true;
    if (SkippedSegment(marker)) return SkipBytes(c->file, segment.payloadBytes, c->fileBytes) || Stop(c, JpegScanVerdict::kDamaged);
    // Arithmetic coding (SOF9 to SOF11, DAC), lossless and hierarchical frames, and the markers
    // libjpeg-turbo does not know either.
    return Stop(c, JpegScanVerdict::kUnchecked);
}

void Walk(Checker* c) {
    if (!StartJpeg(c->file)) {
        Stop(c, JpegScanVerdict::kUnchecked);
        return;
    }
    InstallStandardTables(c);
    JpegSegment segment;
    for (;;) {
        if (!NextJpegSegment(c->file, &segment)) {
            Stop(c, JpegScanVerdict::kDamaged);  // the file ends before its end-of-image marker
            return;
        }
        if (!OnSegment(c, segment)) return;
    }
}

}  // namespace

JpegScanReport CheckJpegScans(std::FILE* file, uint64_t fileBytes) {
    Checker* c = new (std::nothrow) Checker;
    if (c == nullptr) return JpegScanReport{JpegScanVerdict::kOutOfMemory, 0, 0};
    c->file = file;
    c->fileBytes = fileBytes;
    c->source.bytes = c->bytes;
    c->deadline = std::chrono::steady_clock::now() + std::chrono::seconds(CurrentLimits().decodeSeconds);
    Walk(c);
    const JpegScanReport report = c->report;
    std::free(c->frame.history);
    delete c;
    return report;
}

}  // namespace imaging::detail

// Buffered writing to the caller's byte sink, and the sink that appends to a vector.
#include "imaging/gif/gif_sink.h"

namespace gif {

namespace {

const size_t kWriterCapacity = 1 << 16;

// A sink that throws counts as one that failed: the encoder itself never throws.
bool CallSink(const ByteSink& sink, const uint8_t* bytes, size_t count) {
    try {
        return sink.write(sink.context, bytes, count);
    } catch (...) {
        return false;
    }
}

bool AppendToVector(void* context, const uint8_t* bytes, size_t count) {
    try {
        auto* out = static_cast<std::vector<uint8_t>*>(context);
        out->insert(out->end(), bytes, bytes + count);
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

ByteSink VectorSink(std::vector<uint8_t>* out) { return ByteSink{out, &AppendToVector}; }

namespace detail {

void InitSinkWriter(SinkWriter* writer, ByteSink sink) {
    writer->sink = sink;
    writer->buffer.clear();
    writer->buffer.reserve(kWriterCapacity);
    writer->failed = false;
}

void Put(SinkWriter* writer, const uint8_t* bytes, size_t count) {
    if (writer->failed) return;
    if (writer->buffer.size() + count > kWriterCapacity) Flush(writer);
    if (count > kWriterCapacity) {
        if (!CallSink(writer->sink, bytes, count)) writer->failed = true;
        return;
    }
    writer->buffer.insert(writer->buffer.end(), bytes, bytes + count);
}

void PutByte(SinkWriter* writer, int value) {
    const uint8_t byte = uint8_t(value);
    Put(writer, &byte, 1);
}

void PutWord(SinkWriter* writer, int value) {
    PutByte(writer, value & 0xFF);
    PutByte(writer, (value >> 8) & 0xFF);
}

void Flush(SinkWriter* writer) {
    if (!writer->failed && !writer->buffer.empty() &&
        !CallSink(writer->sink, writer->buffer.data(), writer->buffer.size())) {
        writer->failed = true;
    }
    writer->buffer.clear();
}

}  // namespace detail
}  // namespace gif

// Decoding on Linux through gdk-pixbuf and every loader installed for it (PNG, GIF, BMP, TIFF,
// ICO, TGA, PNM, WebP, HEIF/AVIF, SVG...; JPEG goes to decode_jpeg.cpp). The file is fed to a
// loader in chunks so that the size its header claims can be refused before the loader allocates
// the picture.
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "imaging/decode_linux.h"
#include "imaging/failure.h"
#include "imaging/geometry.h"

namespace imaging::detail {

namespace {

constexpr size_t kChunkBytes = size_t(1) << 16;

struct LoadWatch {
    int32_t claimedWidth = 0;
    int32_t claimedHeight = 0;
    bool refused = false;
    Failure loaderFailure = Failure::kNone;  // what the loader's first error said
    int32_t firstRowUpdated = INT32_MAX;  // the rows the loader reported as decoded
    int32_t endRowUpdated = 0;
};

// "size-prepared" comes once the header is read and before any pixel memory exists. A size of
// 0 x 0 tells the loader to stop there (as gdk_pixbuf_get_file_info does); feeding stops too.
void OnSizePrepared(GdkPixbufLoader* loader, int width, int height, gpointer data) {
    LoadWatch* watch = static_cast<LoadWatch*>(data);
    watch->claimedWidth = width;
    watch->claimedHeight = height;
    if (!AcceptSize(width, height)) {
        watch->refused = true;
        gdk_pixbuf_loader_set_size(loader, 0, 0);
    }
}

void OnAreaUpdated(GdkPixbufLoader*, int, int y, int, int height, gpointer data) {
    LoadWatch* watch = static_cast<LoadWatch*>(data);
    if (y < watch->firstRowUpdated) watch->firstRowUpdated = y;
    if (y + height > watch->endRowUpdated) watch->endRowUpdated = y + height;
}

// Loaders that decode row by row (BMP, PNM, TGA...) report the rows they got; a file cut short
// leaves some unreported and the rest of the picture blank. An animation's first frame may
// legitimately cover only part of the canvas, so GIF and ANI are left to their loaders, which
// report truncation themselves.
bool EveryRowDecoded(GdkPixbufLoader* loader, const LoadWatch& watch) {
    GdkPixbufFormat* format = gdk_pixbuf_loader_get_format(loader);
    gchar* name = format != nullptr ? gdk_pixbuf_format_get_name(format) : nullptr;
    const bool animation = name != nullptr && (g_strcmp0(name, "gif") == 0 || g_strcmp0(name, "ani") == 0);
    g_free(name);
    return animation || (watch.firstRowUpdated <= 0 && watch.endRowUpdated >= watch.claimedHeight);
}

Failure FailureOfLoaderError(const GError* error) {
    if (error->domain == GDK_PIXBUF_ERROR && error->code == GDK_PIXBUF_ERROR_UNKNOWN_TYPE) return Failure::kUnknownFormat;
    if (error->domain == GDK_PIXBUF_ERROR && error->code == GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY) return Failure::kOutOfMemory;
    return Failure::kDamaged;
}

// Keeps the first error's meaning and frees the error.
void NoteLoaderError(GError* error, LoadWatch* watch) {
    if (error == nullptr) return;
    if (watch->loaderFailure == Failure::kNone) watch->loaderFailure = FailureOfLoaderError(error);
    g_error_free(error);
}

bool Write(GdkPixbufLoader* loader, const guchar* bytes, size_t count, LoadWatch* watch) {
    GError* error = nullptr;
    const bool ok = gdk_pixbuf_loader_write(loader, bytes, count, &error) != FALSE;
    NoteLoaderError(error, watch);
    return ok;
}

// Feeds the file to the loader (of a GIF only its first `limit` bytes, which end with its first
// frame, and a trailer) and closes it; true when the loader read it all without error.
bool FeedLoader(std::FILE* file, uint64_t limit, GdkPixbufLoader* loader, LoadWatch& watch) {
    guchar* chunk = static_cast<guchar*>(std::malloc(kChunkBytes));
    bool ok = chunk != nullptr;
    uint64_t left = limit != 0 ? limit : UINT64_MAX;
    while (ok && !watch.refused && left > 0) {
        const size_t count = std::fread(chunk, 1, left < kChunkBytes ? size_t(left) : kChunkBytes, file);
        if (count == 0) {
            ok = !std::ferror(file) && limit == 0;
            break;
        }
        left -= count;
        ok = Write(loader, chunk, count, &watch);
    }
    static const guchar kGifTrailer = 0x3B;
    if (ok && !watch.refused && limit != 0) ok = Write(loader, &kGifTrailer, 1, &watch);
    std::free(chunk);
    // A loader must be closed even after a failure; closing reports truncated and damaged data.
    GError* error = nullptr;
    const bool closed = gdk_pixbuf_loader_close(loader, &error) != FALSE;
    NoteLoaderError(error, &watch);
    return ok && closed && !watch.refused;
}

int OrientationOption(GdkPixbuf* pixbuf) {
    const gchar* text = gdk_pixbuf_get_option(pixbuf, "orientation");
    if (text == nullptr || text[0] < '1' || text[0] > '8' || text[1] != '\0') return 1;
    return text[0] - '0';
}

// The loader's picture if it is complete, 8-bit RGB(A) and of the size that was accepted.
bool UsablePixbuf(GdkPixbuf* pixbuf, const LoadWatch& watch) {
    if (pixbuf == nullptr) return false;
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf) != FALSE;
    return gdk_pixbuf_get_colorspace(pixbuf) == GDK_COLORSPACE_RGB &&
           gdk_pixbuf_get_bits_per_sample(pixbuf) == 8 && channels == (alpha ? 4 : 3) &&
           gdk_pixbuf_get_width(pixbuf) == watch.claimedWidth &&
           gdk_pixbuf_get_height(pixbuf) == watch.claimedHeight &&
           SizeAcceptable(watch.claimedWidth, watch.claimedHeight);
}

// gdk-pixbuf's TIFF loader reads through libtiff's RGBA interface, which multiplies the colours
// by alpha; the other loaders hand over the colours as stored, as the rest of the library expects.
bool GivesPremultipliedColours(GdkPixbufLoader* loader) {
    GdkPixbufFormat* format = gdk_pixbuf_loader_get_format(loader);
    gchar* name = format != nullptr ? gdk_pixbuf_format_get_name(format) : nullptr;
    const bool tiff = g_strcmp0(name, "tiff") == 0;
    g_free(name);
    return tiff;
}

// Divides the colours of an RGBA picture by alpha, back to the colours as they were stored.
void Unpremultiply(GdkPixbuf* pixbuf) {
    guchar* rows = gdk_pixbuf_get_pixels(pixbuf);
    const int width = gdk_pixbuf_get_width(pixbuf), height = gdk_pixbuf_get_height(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < height; ++y) {
        for (guchar* p = rows + ptrdiff_t(stride) * y; p != rows + ptrdiff_t(stride) * y + ptrdiff_t(width) * 4; p += 4) {
            const unsigned alpha = p[3];
            if (alpha == 0) continue;
            for (int c = 0; c < 3; ++c) p[c] = guchar(std::min(255u, (p[c] * 255u + alpha / 2) / alpha));
        }
    }
}

void UnrefPixbuf(void* owner) { g_object_unref(static_cast<GdkPixbuf*>(owner)); }

GdkPixbuf* LoadPixbuf(std::FILE* file, uint64_t decodeBytes) {
    LoadWatch watch;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    if (loader == nullptr) return nullptr;
    g_signal_connect(loader, "size-prepared", G_CALLBACK(OnSizePrepared), &watch);
    g_signal_connect(loader, "area-updated", G_CALLBACK(OnAreaUpdated), &watch);
    GdkPixbuf* pixbuf = nullptr;
    if (FeedLoader(file, decodeBytes, loader, watch) && EveryRowDecoded(loader, watch)) {
        pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);  // owned by the loader until referenced
        if (UsablePixbuf(pixbuf, watch)) {
            g_object_ref(pixbuf);
            if (gdk_pixbuf_get_has_alpha(pixbuf) && GivesPremultipliedColours(loader)) Unpremultiply(pixbuf);
        } else {
            pixbuf = nullptr;
        }
    }
    g_object_unref(loader);
    // A refused size was recorded when it was refused.
    if (pixbuf == nullptr) {
        SetFailureUnlessSet(watch.loaderFailure != Failure::kNone ? watch.loaderFailure : Failure::kDamaged);
    }
    return pixbuf;
}

}  // namespace

void PrepareLoaders() {
    static const bool prepared = [] {
        g_slist_free(gdk_pixbuf_get_formats());
        return true;
    }();
    (void)prepared;
}

bool DecodeWithPixbuf(std::FILE* file, uint64_t decodeBytes, DecodedImage* out) {
    GdkPixbuf* pixbuf = std::fseek(file, 0, SEEK_SET) == 0 ? LoadPixbuf(file, decodeBytes) : nullptr;
    if (pixbuf == nullptr) {
        SetFailureUnlessSet(Failure::kDamaged);
        return false;
    }
    DecodedImage image;
    image.width = gdk_pixbuf_get_width(pixbuf);
    image.height = gdk_pixbuf_get_height(pixbuf);
    image.order = gdk_pixbuf_get_has_alpha(pixbuf) ? PixelOrder::Rgba : PixelOrder::Rgb;
    image.rowStride = gdk_pixbuf_get_rowstride(pixbuf);
    image.rows = gdk_pixbuf_read_pixels(pixbuf);
    image.orientation = OrientationOption(pixbuf);
    image.owner = pixbuf;
    image.release = UnrefPixbuf;
    *out = image;
    return true;
}

}  // namespace imaging::detail

// Decoding on Windows: the Windows Imaging Component (every codec the system has), first frame,
// converted to 32-bit BGRA. The frame's size is checked before any pixel is decoded.
#include <windows.h>
#include <propidl.h>
#include <wincodec.h>

#include <cstdio>
#include <cstdlib>
#include <new>

#include "imaging/completeness.h"
#include "imaging/decode.h"
#include "imaging/exif.h"
#include "imaging/failure.h"
#include "imaging/geometry.h"
#include "imaging/sniff.h"
#include "imaging/system_path.h"

namespace imaging::detail {

namespace {

// COM stays initialised for the rest of the process once it was, whatever model the thread
// already chose (RPC_E_CHANGED_MODE still leaves COM usable).
bool ComReady() {
    static const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    return SUCCEEDED(result) || result == RPC_E_CHANGED_MODE;
}

template <typename T>
void ReleaseCom(T*& object) {
    if (object != nullptr) object->Release();
    object = nullptr;
}

// An unsigned 16-bit metadata value, or `fallback` when it is missing.
UINT MetadataValue(IWICMetadataQueryReader* reader, const wchar_t* name, UINT fallback) {
    PROPVARIANT value;
    PropVariantInit(&value);
    UINT result = fallback;
    if (reader != nullptr && SUCCEEDED(reader->GetMetadataByName(name, &value)) && value.vt == VT_UI2) {
        result = value.uiVal;
    }
    PropVariantClear(&value);
    return result;
}

// The EXIF orientation of a JPEG frame as WIC reports it; 0 when WIC cannot tell (Wine's JPEG
// decoder has no APP1 metadata), 1 when there is none.
UINT WicOrientation(IWICBitmapFrameDecode* frame) {
    IWICMetadataQueryReader* reader = nullptr;
    if (FAILED(frame->GetMetadataQueryReader(&reader))) return 0;
    const UINT orientation = MetadataValue(reader, L"/app1/ifd/{ushort=274}", 0);
    ReleaseCom(reader);
    return orientation;
}

// Where the first frame lies on the picture: a GIF frame may cover only part of its logical screen,
// which shows transparent (hence white) elsewhere, as viewers draw it.
struct Placement {
    UINT canvasWidth, canvasHeight;
    UINT left, top;
};

Placement GifPlacement(IWICBitmapDecoder* decoder, IWICBitmapFrameDecode* frame, UINT width, UINT height) {
    Placement placement{width, height, 0, 0};
    IWICMetadataQueryReader* screen = nullptr;
    IWICMetadataQueryReader* image = nullptr;
    if (SUCCEEDED(decoder->GetMetadataQueryReader(&screen)) && SUCCEEDED(frame->GetMetadataQueryReader(&image))) {
        placement.canvasWidth = MetadataValue(screen, L"/logscrdesc/Width", width);
        placement.canvasHeight = MetadataValue(screen, L"/logscrdesc/Height", height);
        placement.left = MetadataValue(image, L"/imgdesc/Left", 0);
        placement.top = MetadataValue(image, L"/imgdesc/Top", 0);
    }
    ReleaseCom(image);
    ReleaseCom(screen);
    return placement;
}

// Converts the frame to BGRA and places it on a transparent canvas; null on failure.
uint8_t* CopyBgra(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, UINT width, UINT height,
                  const Placement& placement) {
    const uint64_t canvasStride = uint64_t(placement.canvasWidth) * 4;
    const uint64_t canvasBytes = canvasStride * placement.canvasHeight;
    if (canvasBytes > UINT_MAX || canvasBytes > SIZE_MAX) return nullptr;
    const bool whole = placement.canvasWidth == width && placement.canvasHeight == height &&
                       placement.left == 0 && placement.top == 0;
    // The part of the frame that lies on the canvas.
    const UINT left = placement.left < placement.canvasWidth ? placement.left : placement.canvasWidth;
    const UINT top = placement.top < placement.canvasHeight ? placement.top : placement.canvasHeight;
    const UINT visibleWidth = width < placement.canvasWidth - left ? width : placement.canvasWidth - left;
    const UINT visibleHeight = height < placement.canvasHeight - top ? height : placement.canvasHeight - top;
    IWICFormatConverter* converter = nullptr;
    if (FAILED(factory->CreateFormatConverter(&converter))) return nullptr;
    uint8_t* pixels = nullptr;
    if (SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                                        nullptr, 0.0, WICBitmapPaletteTypeCustom))) {
        pixels = static_cast<uint8_t*>(whole ? std::malloc(size_t(canvasBytes)) : std::calloc(size_t(canvasBytes), 1));
        HRESULT copied = S_OK;
        if (pixels != nullptr && visibleWidth > 0 && visibleHeight > 0) {
            const WICRect visible{0, 0, INT(visibleWidth), INT(visibleHeight)};
            uint8_t* first = pixels + canvasStride * top + uint64_t(left) * 4;
            const UINT bytes = UINT(canvasBytes - canvasStride * top - uint64_t(left) * 4);
            copied = converter->CopyPixels(&visible, UINT(canvasStride), bytes, first);
        }
        if (pixels != nullptr && FAILED(copied)) {
            std::free(pixels);
            pixels = nullptr;
        }
    }
    ReleaseCom(converter);
    return pixels;
}

void FreeBuffer(void* owner) { std::free(owner); }

bool DecodeWithFactory(IWICImagingFactory* factory, const wchar_t* path, std::FILE* file,
                       uint64_t fileBytes, DecodedImage* out) {
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    GUID container = GUID_NULL;
    UINT width = 0;
    UINT height = 0;
    bool ok = false;
    const HRESULT created =
        factory->CreateDecoderFromFilename(path, nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &decoder);
    if (created == WINCODEC_ERR_COMPONENTNOTFOUND) SetFailure(Failure::kUnknownFormat);
    if (created == E_OUTOFMEMORY) SetFailure(Failure::kOutOfMemory);
    if (SUCCEEDED(created) && SUCCEEDED(decoder->GetContainerFormat(&container)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(frame->GetSize(&width, &height))) {
        const Placement placement = container == GUID_ContainerFormatGif
                                        ? GifPlacement(decoder, frame, width, height)
                                        : Placement{width, height, 0, 0};
        uint8_t* pixels = nullptr;
        if (AcceptSize(placement.canvasWidth, placement.canvasHeight, fileBytes)) {
            pixels = CopyBgra(factory, frame, width, height, placement);
        }
        if (pixels != nullptr) {
            DecodedImage image;
            image.width = int32_t(placement.canvasWidth);
            image.height = int32_t(placement.canvasHeight);
            image.order = PixelOrder::Bgra;
            image.rowStride = ptrdiff_t(placement.canvasWidth) * 4;
            image.rows = pixels;
            if (container == GUID_ContainerFormatJpeg) {
                const UINT reported = WicOrientation(frame);
                image.orientation = reported >= 1 && reported <= 8 ? int(reported) : JpegExifOrientation(file);
            }
            image.owner = pixels;
            image.release = FreeBuffer;
            *out = image;
            ok = true;
        }
    }
    ReleaseCom(frame);
    ReleaseCom(decoder);
    if (!ok) SetFailureUnlessSet(Failure::kDamaged);
    return ok;
}

}  // namespace

bool DecodeFile(const char* path, DecodedImage* out) {
    if (!ComReady()) {
        SetFailure(Failure::kOutOfMemory);
        return false;
    }
    // The file is read here too: to catch a JPEG or PNG cut short, which a decoder may pad out,
    // a GIF whose first frame is damaged, and for the EXIF orientation WIC may not report.
    uint64_t fileBytes = 0;
    std::FILE* file = OpenPictureFile(path, &fileBytes);
    if (file == nullptr) return false;
    const bool whole = SniffFile(file, fileBytes).acceptable && ContainerComplete(file, fileBytes);
    if (!whole) SetFailureUnlessSet(Failure::kDamaged);
    wchar_t* widePath = whole ? WideSystemPath(path) : nullptr;
    IWICImagingFactory* factory = nullptr;
    bool ok = false;
    if (widePath != nullptr &&
        SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IWICImagingFactory, reinterpret_cast<void**>(&factory)))) {
        ok = DecodeWithFactory(factory, widePath, file, fileBytes, out);
    }
    ReleaseCom(factory);
    std::free(widePath);
    std::fclose(file);
    if (!ok) SetFailureUnlessSet(Failure::kOutOfMemory);  // no factory, or no memory for the path
    return ok;
}

}  // namespace imaging::detail

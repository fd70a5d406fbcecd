// Decoding on Windows: the Windows Imaging Component (every codec the system has), first frame,
// converted to 32-bit BGRA. The size the file's header claims is checked before WIC sees the file
// and the frame's size again before any pixel is decoded. WIC reads the file through the handle
// the checks read (never the path again), on a worker thread that is abandoned, and cleans up
// after itself, when it runs past the time limit.
#include <windows.h>
#include <propidl.h>
#include <wincodec.h>

#include <cstdio>
#include <cstdlib>
#include <io.h>
#include <new>

#include "imaging/completeness.h"
#include "imaging/decode.h"
#include "imaging/exif.h"
#include "imaging/failure.h"
#include "imaging/geometry.h"
#include "imaging/imaging.h"
#include "imaging/jpeg_scans.h"
#include "imaging/sniff.h"
#include "imaging/system_path.h"

namespace imaging::detail {

namespace {

// What the worker thread hands back. It touches no state of the library (LastFailure included),
// so an abandoned worker can finish while the caller goes on.
struct WicJob {
    HANDLE file;            // the worker's own handle of the open file
    Limits limits;
    DecodedImage image;     // the worker's result when `decoded`
    bool decoded = false;
    FailureReport failure = {Failure::kNone, 0, 0, 0};
    LONG owners = 2;        // the caller and the worker; the last one frees the job
};

void NoteFailure(WicJob* job, Failure failure) {
    if (job->failure.failure == Failure::kNone) job->failure = FailureReport{failure, 0, 0, 0};
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

// The frame's size against the job's limits, as AcceptSize judges it, recorded in the job.
bool FrameSizeAcceptable(WicJob* job, UINT width, UINT height) {
    if (width >= 1 && height >= 1 && DibSizeAcceptable(width, height) &&
        ConversionBytes(width, height) <= job->limits.memoryBytes) {
        return true;
    }
    if (width < 1 || height < 1) {
        NoteFailure(job, Failure::kDamaged);
    } else {
        const auto side = [](UINT v) { return int32_t(v > INT32_MAX ? INT32_MAX : v); };
        job->failure = FailureReport{Failure::kTooLarge, side(width), side(height), ConversionBytes(width, height)};
    }
    return false;
}

bool DecodeWithFactory(IWICImagingFactory* factory, WicJob* job) {
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    GUID container = GUID_NULL;
    UINT width = 0;
    UINT height = 0;
    bool ok = false;
    const HRESULT created = factory->CreateDecoderFromFileHandle(reinterpret_cast<ULONG_PTR>(job->file), nullptr,
                                                                 WICDecodeMetadataCacheOnDemand, &decoder);
    if (created == WINCODEC_ERR_COMPONENTNOTFOUND) NoteFailure(job, Failure::kUnknownFormat);
    if (created == E_OUTOFMEMORY) NoteFailure(job, Failure::kOutOfMemory);
    if (SUCCEEDED(created) && SUCCEEDED(decoder->GetContainerFormat(&container)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(frame->GetSize(&width, &height))) {
        const Placement placement = container == GUID_ContainerFormatGif
                                        ? GifPlacement(decoder, frame, width, height)
                                        : Placement{width, height, 0, 0};
        uint8_t* pixels = nullptr;
        if (FrameSizeAcceptable(job, placement.canvasWidth, placement.canvasHeight)) {
            pixels = CopyBgra(factory, frame, width, height, placement);
        }
        if (pixels != nullptr) {
            DecodedImage image;
            image.width = int32_t(placement.canvasWidth);
            image.height = int32_t(placement.canvasHeight);
            image.order = PixelOrder::Bgra;
            image.rowStride = ptrdiff_t(placement.canvasWidth) * 4;
            image.rows = pixels;
            // 0: WIC cannot tell; the caller reads the EXIF itself.
            image.orientation = container == GUID_ContainerFormatJpeg ? int(WicOrientation(frame)) : 1;
            image.owner = pixels;
            image.release = FreeBuffer;
            job->image = image;
            ok = true;
        }
    }
    ReleaseCom(frame);
    ReleaseCom(decoder);
    if (!ok) NoteFailure(job, Failure::kDamaged);
    return ok;
}

void LeaveJob(WicJob* job) {
    if (InterlockedDecrement(&job->owners) != 0) return;
    if (job->decoded) ReleaseDecoded(&job->image);
    CloseHandle(job->file);
    delete job;
}

DWORD WINAPI DecodeOnWorker(void* context) {
    WicJob* job = static_cast<WicJob*>(context);
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IWICImagingFactory* factory = nullptr;
    const LARGE_INTEGER start = {};
    if (SetFilePointerEx(job->file, start, nullptr, FILE_BEGIN) &&
        SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                   reinterpret_cast<void**>(&factory)))) {
        job->decoded = DecodeWithFactory(factory, job);
    }
    NoteFailure(job, Failure::kOutOfMemory);  // no factory: recorded only when nothing else was
    ReleaseCom(factory);
    if (SUCCEEDED(com)) CoUninitialize();
    LeaveJob(job);
    return 0;
}

// A handle of its own for the worker, so that the caller may close the file while it runs.
HANDLE WorkerHandle(std::FILE* file) {
    const HANDLE own = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    HANDLE copy = nullptr;
    if (own == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return copy;
}

// Runs the decode on a worker thread and waits up to the time limit; a worker that runs over is
// left to finish and free its own results.
bool DecodeWithin(std::FILE* file, DecodedImage* out) {
    WicJob* job = new (std::nothrow) WicJob{WorkerHandle(file), CurrentLimits(), DecodedImage{}};
    if (job == nullptr || job->file == nullptr) {
        delete job;
        SetFailure(Failure::kOutOfMemory);
        return false;
    }
    HANDLE worker = CreateThread(nullptr, 0, DecodeOnWorker, job, 0, nullptr);
    if (worker == nullptr) {
        CloseHandle(job->file);
        delete job;
        SetFailure(Failure::kOutOfMemory);
        return false;
    }
    const DWORD waited = WaitForSingleObject(worker, DWORD(job->limits.decodeSeconds) * 1000);
    CloseHandle(worker);
    if (waited != WAIT_OBJECT_0) {
        SetFailure(Failure::kTimedOut);
        LeaveJob(job);
        return false;
    }
    const bool decoded = job->decoded;
    if (decoded) {
        *out = job->image;
        job->decoded = false;  // the rows are the caller's now
    } else {
        SetFailureReport(job->failure);
    }
    LeaveJob(job);
    return decoded;
}

// WIC fills a JPEG scan that stops early with grey and shows a progressive file whose last scans
// are missing blurred, without a word; the file's markers are all there, so only a walk through
// its scans tells (jpeg_scans.h). A coding the walk does not read is left to WIC.
bool JpegScansAcceptable(std::FILE* file, uint64_t fileBytes) {
    switch (CheckJpegScans(file, fileBytes).verdict) {
        case JpegScanVerdict::kWhole:
        case JpegScanVerdict::kUnchecked:
            return true;
        case JpegScanVerdict::kOutOfMemory:
            SetFailure(Failure::kOutOfMemory);
            return false;
        case JpegScanVerdict::kTimedOut:
            SetFailure(Failure::kTimedOut);
            return false;
        case JpegScanVerdict::kDamaged:
            break;
    }
    SetFailure(Failure::kDamaged);
    return false;
}

}  // namespace

void DecodeInThisProcess(bool) {}

bool DecodeOpenFile(std::FILE* file, uint64_t fileBytes, DecodedImage* out) {
    // The file is read here too: to refuse a size too large before WIC allocates it, to catch a
    // JPEG or PNG cut short and a JPEG scan damaged or ended early, which WIC pads out, a GIF whose
    // first frame is damaged, and for the EXIF orientation WIC may not report.
    if (!SniffFile(file, fileBytes).acceptable || !ContainerComplete(file, fileBytes)) {
        SetFailureUnlessSet(Failure::kDamaged);
        return false;
    }
    uint8_t head[3] = {};
    const bool isJpeg = std::fseek(file, 0, SEEK_SET) == 0 && std::fread(head, 1, 3, file) == 3 && head[0] == 0xFF &&
                        head[1] == 0xD8 && head[2] == 0xFF;
    if (isJpeg && !JpegScansAcceptable(file, fileBytes)) return false;
    if (!DecodeWithin(file, out)) return false;
    if (isJpeg && (out->orientation < 1 || out->orientation > 8)) out->orientation = JpegExifOrientation(file);
    return true;
}

}  // namespace imaging::detail

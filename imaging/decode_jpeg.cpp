// JPEG on Linux through libjpeg-turbo itself, the library gdk-pixbuf's JPEG loader wraps, fed the
// whole stream from memory: arithmetic-coded files decode (the loader's suspending feed cannot),
// and a warning that data is missing or corrupt fails the load instead of leaving grey rows.
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <new>

#include <jerror.h>
#include <jpeglib.h>

#include "imaging/decode_linux.h"
#include "imaging/failure.h"
#include "imaging/geometry.h"
#include "imaging/imaging.h"

namespace imaging::detail {

namespace {

struct ErrorTrap {
    jpeg_error_mgr manager;
    std::jmp_buf escape;
    Failure failure;
};

[[noreturn]] void Escape(j_common_ptr cinfo, Failure failure) {
    ErrorTrap* trap = reinterpret_cast<ErrorTrap*>(cinfo->err);
    trap->failure = failure;
    std::longjmp(trap->escape, 1);
}

[[noreturn]] void OnError(j_common_ptr cinfo) {
    Escape(cinfo, cinfo->err->msg_code == JERR_OUT_OF_MEMORY ? Failure::kOutOfMemory : Failure::kDamaged);
}

// Warnings that leave every pixel as the file holds it: bytes between segments, metadata libjpeg
// does not understand. Every other warning means pixels were skipped, guessed or filled in.
bool HarmlessWarning(int code) {
    return code == JWRN_EXTRANEOUS_DATA || code == JWRN_JFIF_MAJOR || code == JWRN_ADOBE_XFORM || code == JWRN_BOGUS_ICC;
}

void OnMessage(j_common_ptr cinfo, int level) {
    if (level < 0 && !HarmlessWarning(cinfo->err->msg_code)) Escape(cinfo, Failure::kDamaged);
}

// A progressive file that ends after some of its scans decodes without a warning, blurred: every
// coefficient of every component must have been sent down to its last bit.
bool EveryCoefficientSent(const jpeg_decompress_struct& cinfo) {
    if (!cinfo.progressive_mode) return true;
    for (int c = 0; c < cinfo.num_components; ++c) {
        for (int k = 0; k < DCTSIZE2; ++k) {
            if (cinfo.coef_bits[c][k] != 0) return false;
        }
    }
    return true;
}

// libjpeg-turbo decodes a sequential file that sends its components in separate scans and ends
// before one of them without a warning, that component left flat. Its progress hook, called
// while it reads the scans, notes the components each one holds.
struct ScanWatch {
    jpeg_progress_mgr manager;       // first, so that the hook finds the watch from libjpeg's pointer
    uint32_t componentsScanned = 0;  // a bit per component index
};

void NoteScanComponents(j_common_ptr common) {
    const auto* cinfo = reinterpret_cast<const jpeg_decompress_struct*>(common);
    ScanWatch* watch = reinterpret_cast<ScanWatch*>(cinfo->progress);
    for (int i = 0; i < cinfo->comps_in_scan; ++i) watch->componentsScanned |= 1u << cinfo->cur_comp_info[i]->component_index;
}

bool EveryComponentScanned(const jpeg_decompress_struct& cinfo, const ScanWatch& watch) {
    return cinfo.progressive_mode || watch.componentsScanned == (uint32_t(1) << cinfo.num_components) - 1;
}

// gdk-pixbuf's reading of CMYK: Adobe files store the inks inverted.
void CmykToRgb(const uint8_t* cmyk, uint8_t* rgb, JDIMENSION width, bool inverted) {
    for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
        const unsigned k = cmyk[3];
        for (int i = 0; i < 3; ++i) {
            rgb[i] = inverted ? uint8_t(k * cmyk[i] / 255) : uint8_t((255 - k) * (255u - cmyk[i]) / 255);
        }
    }
}

// State that must survive a longjmp out of libjpeg.
struct JpegJob {
    jpeg_decompress_struct cinfo;
    ErrorTrap trap;
    ScanWatch watch;
    uint8_t* rows = nullptr;
    uint8_t* cmykRow = nullptr;
    ptrdiff_t stride = 0;
    bool decoded = false;
};

bool StartJpeg(JpegJob& job, const uint8_t* bytes, size_t size) {
    jpeg_decompress_struct& cinfo = job.cinfo;
    jpeg_mem_src(&cinfo, bytes, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    if (!AcceptSize(cinfo.image_width, cinfo.image_height)) return false;
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    const uint64_t limit = CurrentLimits().memoryBytes;
    cinfo.mem->max_memory_to_use = limit > uint64_t(LONG_MAX) ? LONG_MAX : long(limit);
    job.watch.manager.progress_monitor = NoteScanComponents;
    cinfo.progress = &job.watch.manager;
    jpeg_start_decompress(&cinfo);
    return cinfo.output_width == cinfo.image_width && cinfo.output_height == cinfo.image_height;
}

bool ReadRows(JpegJob& job, const RowMemory& memory) {
    jpeg_decompress_struct& cinfo = job.cinfo;
    const ptrdiff_t stride = job.stride;
    const bool cmyk = cinfo.out_color_space == JCS_CMYK;
    job.rows = memory.take(memory.context, size_t(stride) * cinfo.output_height);
    if (cmyk) job.cmykRow = static_cast<uint8_t*>((*cinfo.mem->alloc_large)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE, size_t(cinfo.output_width) * 4));
    if (job.rows == nullptr) {
        SetFailure(Failure::kOutOfMemory);
        return false;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        uint8_t* row = job.rows + stride * ptrdiff_t(cinfo.output_scanline);
        JSAMPROW target = cmyk ? job.cmykRow : row;
        if (jpeg_read_scanlines(&cinfo, &target, 1) != 1) return false;
        if (cmyk) CmykToRgb(job.cmykRow, row, cinfo.output_width, cinfo.saw_Adobe_marker);
    }
    // Read before jpeg_finish_decompress, which frees the record of the scans with the image's
    // memory; every scan was read once the last row was.
    const bool complete = EveryCoefficientSent(cinfo) && EveryComponentScanned(cinfo, job.watch);
    jpeg_finish_decompress(&cinfo);
    return complete;
}

}  // namespace

bool DecodeJpegBytes(const uint8_t* bytes, size_t size, const RowMemory& memory, DecodedImage* out) {
    JpegJob* job = new (std::nothrow) JpegJob();
    if (job == nullptr) {
        SetFailure(Failure::kOutOfMemory);
        return false;
    }
    job->cinfo.err = jpeg_std_error(&job->trap.manager);
    job->trap.manager.error_exit = OnError;
    job->trap.manager.emit_message = OnMessage;
    job->trap.failure = Failure::kNone;
    // Only the job on the heap is touched after a longjmp, never a local changed since setjmp.
    if (setjmp(job->trap.escape) == 0) {
        jpeg_create_decompress(&job->cinfo);
        if (StartJpeg(*job, bytes, size)) {
            job->stride = ptrdiff_t(job->cinfo.output_width) * 3;
            job->decoded = ReadRows(*job, memory);
        }
    }
    const bool ok = job->decoded;
    if (ok) {
        DecodedImage image;
        image.width = int32_t(job->cinfo.output_width);
        image.height = int32_t(job->cinfo.output_height);
        image.order = PixelOrder::Rgb;
        image.rowStride = job->stride;
        image.rows = job->rows;
        image.owner = job->rows;
        image.release = memory.release;
        *out = image;
    } else {
        if (job->rows != nullptr) memory.release(job->rows);
        SetFailureUnlessSet(job->trap.failure != Failure::kNone ? job->trap.failure : Failure::kDamaged);
    }
    jpeg_destroy_decompress(&job->cinfo);
    delete job;
    return ok;
}

}  // namespace imaging::detail

// gif-encode-frames: encodes PNG frames into one looping GIF and prints the time, the size, the
// extra memory and the quality (PSNR and 3x3-blurred PSNR of an independent decoder's frames).
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "imaging/gif/gif_encoder.h"

namespace {

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> bgr;  // top-down, 3 * width bytes per row
    int32_t transparentKey = gif::kOpaque;
};

// A PNG's pixels below half opacity become transparent, as the image library will pass them on:
// painted in a key colour that no other pixel of the frame has.
const int kOpaqueAlpha = 128;

int32_t UnusedColour(const Picture& picture, const std::vector<bool>& transparent) {
    std::vector<bool> used(size_t(1) << 24, false);
    for (size_t i = 0; i < transparent.size(); ++i) {
        const uint8_t* p = &picture.bgr[3 * i];
        if (!transparent[i]) used[size_t(p[2]) << 16 | size_t(p[1]) << 8 | p[0]] = true;
    }
    size_t key = 0xFF00FF;  // magenta first, the usual choice, then the next free one
    while (used[key]) key = (key + 1) & 0xFFFFFF;
    return int32_t(key);
}

void KeyTransparentPixels(Picture* picture, const std::vector<bool>& transparent) {
    int32_t key = UnusedColour(*picture, transparent);
    bool any = false;
    for (size_t i = 0; i < transparent.size(); ++i) {
        if (!transparent[i]) continue;
        any = true;
        picture->bgr[3 * i] = uint8_t(key);
        picture->bgr[3 * i + 1] = uint8_t(key >> 8);
        picture->bgr[3 * i + 2] = uint8_t(key >> 16);
    }
    if (any) picture->transparentKey = key;
}

bool LoadPng(const char* path, Picture* picture) {
    GError* error = nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path, &error);
    if (!pixbuf) {
        std::fprintf(stderr, "%s: %s\n", path, error ? error->message : "cannot load");
        if (error) g_error_free(error);
        return false;
    }
    picture->width = gdk_pixbuf_get_width(pixbuf);
    picture->height = gdk_pixbuf_get_height(pixbuf);
    int channels = gdk_pixbuf_get_n_channels(pixbuf), stride = gdk_pixbuf_get_rowstride(pixbuf);
    const guchar* pixels = gdk_pixbuf_read_pixels(pixbuf);
    picture->bgr.resize(size_t(picture->width) * picture->height * 3);
    std::vector<bool> transparent(size_t(picture->width) * picture->height, false);
    for (int y = 0; y < picture->height; ++y) {
        const guchar* in = pixels + size_t(y) * stride;
        uint8_t* out = picture->bgr.data() + size_t(y) * picture->width * 3;
        for (int x = 0; x < picture->width; ++x) {
            out[3 * x] = in[channels * x + 2];
            out[3 * x + 1] = in[channels * x + 1];
            out[3 * x + 2] = in[channels * x];
            if (channels == 4) transparent[size_t(y) * picture->width + x] = in[channels * x + 3] < kOpaqueAlpha;
        }
    }
    g_object_unref(pixbuf);
    if (channels == 4) KeyTransparentPixels(picture, transparent);
    return true;
}

double CpuSeconds() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
    }
    return 0;
}

// Decodes the GIF with Pillow into raw RGB frames, one after another; returns the frame count.
int DecodeWithPillow(const std::string& gifPath, const std::string& rawPath) {
    std::string command =
        "/usr/bin/python3 -c \"import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n"
        "out = open(sys.argv[2], 'wb')\nn = 0\nwhile True:\n    out.write(im.convert('RGB').tobytes())\n"
        "    n += 1\n    try:\n        im.seek(n)\n    except EOFError:\n        break\nprint(n)\" '" +
        gifPath + "' '" + rawPath + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return 0;
    int frames = 0;
    if (std::fscanf(pipe, "%d", &frames) != 1) frames = 0;
    pclose(pipe);
    return frames;
}

// 3x3 box average of one channel (edges repeat the border pixel), in ninths.
std::vector<int> Blur(const uint8_t* pixels, int width, int height, int pixelBytes, int channel) {
    std::vector<int> rows(size_t(width) * height), out(size_t(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int sum = 0;
            for (int dx = -1; dx <= 1; ++dx) {
                int xx = std::min(width - 1, std::max(0, x + dx));
                sum += pixels[(size_t(y) * width + xx) * pixelBytes + channel];
            }
            rows[size_t(y) * width + x] = sum;
        }
    }
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int sum = 0;
            for (int dy = -1; dy <= 1; ++dy) {
                int yy = std::min(height - 1, std::max(0, y + dy));
                sum += rows[size_t(yy) * width + x];
            }
            out[size_t(y) * width + x] = sum;
        }
    }
    return out;
}

double Psnr(double squaredErrorSum, double samples) {
    double mse = squaredErrorSum / samples;
    return mse <= 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// PSNR and blurred PSNR of a decoded RGB frame against the BGR original.
void FrameQuality(const Picture& original, const uint8_t* rgb, double* psnr, double* blurred) {
    int w = original.width, h = original.height;
    double plain = 0, soft = 0;
    for (int c = 0; c < 3; ++c) {
        for (size_t i = 0; i < size_t(w) * h; ++i) {
            double d = double(original.bgr[i * 3 + (2 - c)]) - rgb[i * 3 + c];
            plain += d * d;
        }
        std::vector<int> a = Blur(original.bgr.data(), w, h, 3, 2 - c), b = Blur(rgb, w, h, 3, c);
        for (size_t i = 0; i < a.size(); ++i) {
            double d = (a[i] - b[i]) / 9.0;
            soft += d * d;
        }
    }
    *psnr = Psnr(plain, 3.0 * w * h);
    *blurred = Psnr(soft, 3.0 * w * h);
}

// Mean PSNR and blurred PSNR over the frames an independent decoder reads from the GIF.
bool DecodedQuality(const std::string& outPath, const std::vector<Picture>& pictures, double* psnr, double* blurred) {
    std::string rawPath = outPath + ".rgb";
    int decoded = DecodeWithPillow(outPath, rawPath);
    if (decoded != int(pictures.size())) {
        std::fprintf(stderr, "decoder read %d frames, expected %zu\n", decoded, pictures.size());
        return false;
    }
    std::ifstream raw(rawPath, std::ios::binary);
    double psnrSum = 0, blurredSum = 0;
    for (const Picture& p : pictures) {
        std::vector<uint8_t> rgb(size_t(p.width) * p.height * 3);
        raw.read(reinterpret_cast<char*>(rgb.data()), std::streamsize(rgb.size()));
        double framePsnr, frameBlurred;
        FrameQuality(p, rgb.data(), &framePsnr, &frameBlurred);
        psnrSum += framePsnr;
        blurredSum += frameBlurred;
    }
    std::remove(rawPath.c_str());
    *psnr = psnrSum / pictures.size();
    *blurred = blurredSum / pictures.size();
    return true;
}

bool Measure(const std::string& gifPath, const std::vector<Picture>& pictures) {
    std::ifstream in(gifPath, std::ios::binary | std::ios::ate);
    if (!in) return false;
    double psnr, blurred;
    if (!DecodedQuality(gifPath, pictures, &psnr, &blurred)) return false;
    std::printf("bytes %lld  psnr %.2f  blurred_psnr %.2f\n", (long long)in.tellg(), psnr, blurred);
    return true;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: gif-encode-frames [--measure] [--repeat N] [--no-quality] [--threads N] [--no-dither | --dither PERCENT] [--no-unchanged] [--tolerance T]\n"
                 "                         OUT.gif FRAME.png...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    gif::EncodeOptions options = gif::DefaultEncodeOptions();
    bool measureOnly = false;  // OUT.gif already exists (another encoder's): only measure it
    int repeats = 1;           // encodings timed; the fastest one is reported
    bool quality = true;       // decode the result and measure PSNR
    int arg = 1;
    for (; arg < argc && std::strncmp(argv[arg], "--", 2) == 0; ++arg) {
        std::string name = argv[arg];
        if (name == "--threads" && arg + 1 < argc) {
            options.threads = std::atoi(argv[++arg]);
        } else if (name == "--repeat" && arg + 1 < argc) {
            repeats = std::max(1, std::atoi(argv[++arg]));
        } else if (name == "--no-quality") {
            quality = false;
        } else if (name == "--measure") {
            measureOnly = true;
        } else if (name == "--no-dither") {
            options.ditherStrength = 0;
        } else if (name == "--no-unchanged") {
            options.unchangedPixels = false;
        } else if (name == "--dither" && arg + 1 < argc) {
            options.ditherStrength = std::atoi(argv[++arg]);
        } else if (name == "--tolerance" && arg + 1 < argc) {
            options.unchangedTolerance = std::atoi(argv[++arg]);
        } else {
            return Usage();
        }
    }
    if (argc - arg < 2) return Usage();
    std::string outPath = argv[arg++];
    std::vector<Picture> pictures(argc - arg);
    std::vector<gif::Frame> frames;
    for (size_t k = 0; k < pictures.size(); ++k) {
        if (!LoadPng(argv[arg + k], &pictures[k])) return 1;
        const Picture& p = pictures[k];
        frames.push_back(gif::Frame{p.width, p.height, ptrdiff_t(p.width) * 3, p.bgr.data(), p.transparentKey});
    }

    if (measureOnly) return Measure(outPath, pictures) ? 0 : 1;

    std::vector<uint8_t> bytes;
    // Touched up front, so that the output's own growth does not count as the encoder's memory.
    bytes.resize(size_t(64) << 20);
    bytes.clear();
    long residentBefore = ResidentKiB();
    std::atomic<bool> encoding{true};
    std::atomic<long> residentPeak{residentBefore};
    std::thread watcher([&] {
        while (encoding) {
            long now = ResidentKiB();
            if (now > residentPeak) residentPeak = now;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    double seconds = 1e9, cpuSeconds = 1e9;
    bool ok = true;
    for (int r = 0; r < repeats && ok; ++r) {
        bytes.clear();
        double cpuStart = CpuSeconds();
        auto start = std::chrono::steady_clock::now();
        ok = gif::EncodeAnimationWithOptions(frames.data(), int(frames.size()), 6, gif::VectorSink(&bytes), options);
        seconds = std::min(seconds, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        cpuSeconds = std::min(cpuSeconds, CpuSeconds() - cpuStart);
    }
    encoding = false;
    watcher.join();
    if (!ok) {
        std::fprintf(stderr, "encoding failed\n");
        return 1;
    }
    std::FILE* out = std::fopen(outPath.c_str(), "wb");
    if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || std::fclose(out) != 0) {
        std::fprintf(stderr, "%s: cannot write\n", outPath.c_str());
        return 1;
    }

    double psnr = 0, blurred = 0;
    if (quality && !DecodedQuality(outPath, pictures, &psnr, &blurred)) return 1;
    std::printf("seconds %.3f  cpu_seconds %.3f  bytes %zu  extra_MB %.1f  psnr %.2f  blurred_psnr %.2f\n", seconds,
                cpuSeconds, bytes.size(), (residentPeak - residentBefore) / 1024.0, psnr, blurred);
    return 0;
}

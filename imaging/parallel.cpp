// RunInParallel: a few threads take pieces in turn from a shared counter.
#include "imaging/parallel.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace imaging {

namespace {

constexpr int kMaxThreads = 8;

struct Pieces {
    std::atomic<int> next{0};
    int count;
    void (*work)(void* context, int piece);
    void* context;
};

void TakePieces(Pieces* pieces) {
    for (int piece = pieces->next++; piece < pieces->count; piece = pieces->next++) pieces->work(pieces->context, piece);
}

int ThreadsFor(int pieces) {
    const int cores = int(std::thread::hardware_concurrency());
    return std::max(1, std::min({cores, pieces, kMaxThreads}));
}

}  // namespace

void RunInParallel(int pieces, void (*work)(void* context, int piece), void* context) {
    Pieces shared;
    shared.count = pieces;
    shared.work = work;
    shared.context = context;
    std::vector<std::thread> helpers;
    try {
        const int threads = ThreadsFor(pieces);
        helpers.reserve(size_t(threads - 1));
        for (int t = 1; t < threads; ++t) helpers.emplace_back(TakePieces, &shared);
    } catch (...) {
        // Fewer threads (or none) only take longer: the calling thread takes what is left.
    }
    TakePieces(&shared);
    for (std::thread& helper : helpers) helper.join();
}

}  // namespace imaging

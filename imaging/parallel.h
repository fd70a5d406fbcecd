// Runs independent pieces of work on all cores: the warp's rows of cells, the resize's rows of
// blocks. Nothing escapes: when no thread can be started the pieces run one after another on the
// calling thread, and the result is the same either way.
#pragma once

namespace imaging {

// Calls work(context, piece) once for each piece in [0, pieces), spread over the machine's cores,
// and returns when all are done. The pieces must not depend on one another or on their order.
void RunInParallel(int pieces, void (*work)(void* context, int piece), void* context);

}  // namespace imaging

// The threads of the sweeps: blocks of rows, one per thread.
#include <exception>
#include <vector>

#ifdef _OPENMP
#include <omp.h>
#endif

#include "heatbath/heatbath.h"

namespace o1hb {

int available_threads()
{
#ifdef _OPENMP
    return omp_get_num_procs();
#else
    return 1;
#endif
}

int default_threads(long V)
{
    const long most = V / MIN_SITES_PER_THREAD;
    const int n = available_threads();
    return most < 1 ? 1 : most < n ? static_cast<int>(most) : n;
}

bool have_threads()
{
#ifdef _OPENMP
    return true;
#else
    return false;
#endif
}

void for_row_blocks(long rows, int threads, const std::function<void(int, long, long)> &body)
{
    if (threads <= 1 || !have_threads()) {
        body(0, 0, rows);
        return;
    }
    // An exception must not leave a parallel region: each block keeps its
    // own, and the lowest block's goes on.
    std::vector<std::exception_ptr> failed(static_cast<std::size_t>(threads));
#pragma omp parallel num_threads(threads)
    {
#ifdef _OPENMP
        const int b = omp_get_thread_num(), n = omp_get_num_threads();
#else
        const int b = 0, n = 1;
#endif
        // The team may be smaller than asked for: its blocks cover every row.
        try {
            body(b, block_start(rows, b, n), block_start(rows, b + 1, n));
        } catch (...) {
            failed[static_cast<std::size_t>(b)] = std::current_exception();
        }
    }
    for (const std::exception_ptr &e : failed)
        if (e) std::rethrow_exception(e);
}

}  // namespace o1hb

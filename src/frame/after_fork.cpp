// The child of a fork() has only the thread that called fork(). Whatever
// another thread was doing at that moment never finishes there: a one-time
// build it had claimed, a mutex it held. One handler, installed once per
// process when the module's code is loaded, sets that right in the child
// before anything else runs there.
#include <pthread.h>

#include "frame/once.hpp"
#include "frame/pending_releases.hpp"

namespace pelm {
namespace {

void repair_in_child() noexcept {
    reset_once_cells_in_child();
    reset_pending_releases_in_child();
}

[[maybe_unused]] const int AFTER_FORK_HANDLER = pthread_atfork(nullptr, nullptr, repair_in_child);

}  // namespace
}  // namespace pelm

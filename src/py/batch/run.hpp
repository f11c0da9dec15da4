// Runs a batch computation without the interpreter lock. The calling thread
// waits in short slices; between them it takes its thread state back and
// lets Python run signal handlers, so Ctrl-C cancels the computation and
// raises KeyboardInterrupt. A pair's failure becomes its Python exception.
#pragma once

#include <functional>

#include "batch/executor.hpp"

namespace kivo::py {

// A `small` computation runs on the calling thread itself (still without
// the lock): too short to be worth a thread or a signal check.
void run_released(unsigned workers, const std::function<void(const batch::Pool&)>& body,
                  bool small = false);

}  // namespace kivo::py

// Runs a batch computation without the interpreter lock. The calling thread
// waits in short slices; between them it takes its thread state back and
// lets Python run signal handlers, so Ctrl-C cancels the computation and
// raises KeyboardInterrupt. A pair's failure becomes its Python exception.
#pragma once

#include <functional>

#include "batch/executor.hpp"

namespace kivo::py {

void run_released(unsigned workers, const std::function<void(const batch::Pool&)>& body);

}  // namespace kivo::py

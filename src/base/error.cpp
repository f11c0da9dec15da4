#include "base/error.hpp"

namespace kivo {

std::string EngineError::display() const {
  const char* prefix = "";
  switch (kind) {
    case Kind::Algorithm: prefix = "Algorithm error: "; break;
    case Kind::Preprocessing: prefix = "Preprocessing error: "; break;
    case Kind::RouterConfiguration: prefix = "Router configuration error: "; break;
    case Kind::BatchProcessing: prefix = "Batch processing error: "; break;
  }
  return prefix + message;
}

}  // namespace kivo

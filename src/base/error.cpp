#include "base/error.hpp"

namespace kivo {

std::string EngineError::display() const {
  const char* prefix = "";
  switch (kind) {
    case Kind::Algorithm: prefix = "Algorithm error: "; break;
    case Kind::RouterConfiguration: prefix = "Router configuration error: "; break;
  }
  return prefix + message;
}

}  // namespace kivo

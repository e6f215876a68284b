#include "vector_path.hpp"

#include "vectors/kernels.hpp"

namespace dorvane {

std::string VectorPathInUse() {
    return vectors::Report();
}

} // namespace dorvane

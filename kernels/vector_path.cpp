#include "vector_path.hpp"

#include "kernels.hpp"

namespace dorvane {

std::string VectorPathInUse() {
    return vectors::Report();
}

} // namespace dorvane

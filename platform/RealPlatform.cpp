#include "platform/Platform.h"

namespace lanquill::platform {

// Each real layer, owned here for the whole run.
struct RealPlatform::Layers {
};

RealPlatform::RealPlatform() : layers_(std::make_unique<Layers>()) {
}

RealPlatform::~RealPlatform() = default;

} // namespace lanquill::platform

#pragma once

#include <memory>

namespace tandem {

// A registration with the platform (a notification observer, an event monitor) that ends when this
// object is destroyed. After destruction the callback it carried is never called again.
class Observation {
public:
    virtual ~Observation() = default;
};
using ObservationToken = std::unique_ptr<Observation>;

} // namespace tandem

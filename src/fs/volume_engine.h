#pragma once
// What an engine that reads one volume is made of: the page's wiring and the volume's reads. Engines hand out
// pointers into their tables, so they are never copied.
#include <cstdint>

#include "fs/engine_wiring.h"
#include "fs/volume_reader.h"

namespace halvard {

class VolumeEngine : public EngineWiring {
public:
    explicit VolumeEngine(const VolumeRecord& volume) : reader_(volume) {}
    VolumeEngine(const VolumeEngine&) = delete;
    VolumeEngine& operator=(const VolumeEngine&) = delete;

    // The size the volume record gives; 0 when it gives none.
    std::uint64_t volumeSize() const { return reader_.volumeSize(); }

protected:
    VolumeReader reader_;
};

}  // namespace halvard

#pragma once
// What the command line chose beside the port and the image: the target type, the run-image
// request, the flash loader file and how long the boot loader is waited for.
#include <cstdint>
#include <string>

#include "engine/TargetType.h"
#include "targets/TargetCatalogue.h"

struct TargetChoice {
    static constexpr uint32_t kDefaultWaitS = 60;
    static constexpr uint32_t kMaxWaitS = 86400;

    TargetType targetType = TargetType::LoaderRuns;
    // Load the file's first section through the boot connection and start it.
    bool run = false;
    std::string loaderPath;
    uint32_t waitMs = kDefaultWaitS * 1000;

    // The device is reached in its boot mode: no greeting, no re-appearance.
    bool Boot() const {
        const TargetRow* row = Targets().Find(targetType);
        return row != nullptr && row->Boot();
    }
};

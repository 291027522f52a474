// The pages of a changed hive image that differ from the hive file it is to
// be written over: of the pages that may differ (those the image changed,
// and those the caller knows to differ, such as a dirty hive's replayed
// pages), the ones whose bytes do, with every page the file does not hold,
// in runs of adjacent pages.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/posix/hive/hive_image.h"
#include "platform/posix/hive/hive_in_place.h"
#include "platform/posix/windows_api.h"

namespace orvik::posix::hive {

// `candidates`: 4 KiB pages of the bins, numbered from the first bin, in
// any order. The runs point into the image.
LONG DiffWithFile(const HiveImage& image, int fd, std::vector<uint32_t> candidates,
                  HiveChanges* changes);

}  // namespace orvik::posix::hive

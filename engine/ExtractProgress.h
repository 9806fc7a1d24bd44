#pragma once

#include <functional>

// Progress of an extraction as a fraction from 0 to 1, called on an
// extracting thread, one call at a time. Back-ends call it often; callers
// thin it out.
using ExtractProgress = std::function<void(double fraction)>;

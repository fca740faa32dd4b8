#include "base/stop_flag.h"

std::atomic<std::int32_t> engine_detail::StopRequested{0};

// The protocol version every signed artefact of this system carries and expects.
#pragma once

#include <string_view>

namespace vesk {

inline constexpr std::string_view kProtocolVersion = "vesk/0.2";

}  // namespace vesk

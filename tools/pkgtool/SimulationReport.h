// How simulate and matrix show one simulated run: as JSON for programs and as
// aligned lines for people, both from the same result.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "tools/pkgtool/Simulation.h"

namespace pkgtool {

nlohmann::json ResultJson(const SimulationInput& input, const SimulationResult& result);

// The lines simulate prints.
std::string ResultText(const SimulationInput& input, const SimulationResult& result);

}  // namespace pkgtool

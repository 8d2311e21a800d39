// Helpers of the sampler tests: the tables the fixture made; the helpers of
// every test (files, lines, scratch folder) come with test_support.h.
#pragma once

#include <string>

#include "test_support.h"

// Path of the table file the fixture made for name (h5, h200, small).
inline std::string table_path(const std::string &name) { return std::string(O1_SAMPLER_TABLES) + "/" + name + "/O1_Phi4.res"; }

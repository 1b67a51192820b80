#pragma once

// What the tests include nearly all: GoogleTest, the standard library's strings, containers,
// files, functions, threads and time, and the scratch folder (ScratchFiles.h).
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ScratchFiles.h"

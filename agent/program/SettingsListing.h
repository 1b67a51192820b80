#pragma once

#include <string>
#include <utility>
#include <vector>

// Every stored agent setting as (name, value), in the order of the settings table.
std::vector<std::pair<std::string, std::string>> ListStoredSettings();
